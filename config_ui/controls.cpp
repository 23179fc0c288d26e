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


std::string ShowLineBreaks(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    if (c == '\r') shown += "\\r";
    else if (c == '\n') shown += "\\n";
    else if (c == '\\') shown += "\\\\";
    else shown += c;
  }
  return shown;
}

std::string ReadLineBreaks(const std::string& shown) {
  std::string text;
  text.reserve(shown.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const char next = i + 1 < shown.size() ? shown[i + 1] : '\0';
    if (shown[i] == '\\' && (next == 'r' || next == 'n' || next == '\\')) {
      text += next == 'r' ? '\r' : next == 'n' ? '\n' : '\\';
      ++i;
    } else {
      text += shown[i];
    }
  }
  return text;
}

}  // namespace config_ui
