// controls.cpp -- the message box caption, the one piece of application-wide
// state the configuration interface keeps besides the key path.
#include "controls.h"

namespace config_ui {
namespace {
std::string& Caption() {
  static std::string caption = "Tarnwick";
  return caption;
}
}  // namespace

const std::string& MessageCaption() { return Caption(); }
void SetMessageCaption(const std::string& caption) { Caption() = caption; }

std::string CaptionFromModulePath(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

}  // namespace config_ui
