// entry_points.h -- internals of the entry points that tests reach.
#ifndef PELLUMIN_PLUGIN_ENTRY_POINTS_H_
#define PELLUMIN_PLUGIN_ENTRY_POINTS_H_

namespace tarnwick {

// What HXInit appends, after the control file path and a space, when the
// control list does not load with result rc.
const char* LoadFailureText(int rc);

}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_ENTRY_POINTS_H_
