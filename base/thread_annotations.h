// thread_annotations.h -- clang's thread-safety attributes, as macros.
//
// Fields say which lock guards them (GUARDED_BY), functions which locks they
// need held (REQUIRES) or must not hold (EXCLUDES). clang checks them with
// -Wthread-safety (the "threadsafety" stage of scripts/test-all.sh, preset
// native-threadsafety, makes any finding an error); other compilers see
// nothing. Use the locks of
// base/mutex.h: the standard library's are not annotated.
#ifndef PELLUMIN_BASE_THREAD_ANNOTATIONS_H_
#define PELLUMIN_BASE_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define PELLUMIN_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define PELLUMIN_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) PELLUMIN_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY PELLUMIN_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) PELLUMIN_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) PELLUMIN_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) PELLUMIN_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) PELLUMIN_THREAD_ATTRIBUTE(acquired_after(__VA_ARGS__))
#define REQUIRES(...) PELLUMIN_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) PELLUMIN_THREAD_ATTRIBUTE(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) PELLUMIN_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) PELLUMIN_THREAD_ATTRIBUTE(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) PELLUMIN_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) PELLUMIN_THREAD_ATTRIBUTE(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) PELLUMIN_THREAD_ATTRIBUTE(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PELLUMIN_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) PELLUMIN_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) PELLUMIN_THREAD_ATTRIBUTE(assert_capability(x))
#define RETURN_CAPABILITY(x) PELLUMIN_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS PELLUMIN_THREAD_ATTRIBUTE(no_thread_safety_analysis)

#endif  // PELLUMIN_BASE_THREAD_ANNOTATIONS_H_
