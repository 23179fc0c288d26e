// plugin_setup.cpp -- the standard filter for entry-point tests.
#include "plugin_setup.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tarnwick.h"

namespace tarnwick {
namespace testkit {

void WriteStandardFilter(StandardFilter* filter, const FilterOptions& options) {
  filter->controlFile = filter->dir.Write(
      "control.lst", ControlListBytes({{"BOTH.EXAMPLE", {1}},
                                       {"DENYONLY.EXAMPLE", {2}},
                                       {"ALERTONLY.EXAMPLE", {17}},
                                       {"NEITHER.EXAMPLE", {10}}}));
  filter->keyPath =
      options.keyPath.empty() ? Registry::Get().FreshKeyPath("Filter") : options.keyPath;
  std::vector<std::string> main = options.mainValues;
  if (!options.omitControlFile) main.push_back(Text("ControlFile", filter->controlFile));
  Registry::Get().Import({
      {filter->keyPath, main},
      {filter->keyPath + "\\Deny",
       {Text("Sex", "Sex"), Dword("SexState", 1), Dword("DrugsState", 1), Dword("ChatState", 0),
        Dword("SportsState", 2)}},
      {filter->keyPath + "\\Alert",
       {Dword("SexState", 1), Dword("ChatState", 1), Dword("SportsState", 0xFFFFFFFFu)}},
  });
}

int RunInit(Filter& filter, const std::string& path, std::string* message) {
  // Exactly the host's size, so that a write past it is caught by the
  // address sanitizer.
  std::vector<char> buffer(TARNWICK_MESSAGE_BUFFER_SIZE, '\0');
  std::memcpy(buffer.data(), path.c_str(), std::min(path.size() + 1, buffer.size()));
  const int result = filter.Init(buffer.data());
  const auto end = std::find(buffer.begin(), buffer.end(), '\0');
  EXPECT_NE(end, buffer.end()) << "the message is not terminated";
  message->assign(buffer.begin(), end);
  return result;
}

int FilterUrl(Filter& filter, const std::string& url) {
  ClientPair pair;
  std::vector<char> buffer(TARNWICK_URL_BUFFER_SIZE, '\0');
  std::memcpy(buffer.data(), url.c_str(), url.size() + 1);
  return filter.ProcessUrl(pair.host(), buffer.data());
}

std::string ExpectedPage(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nServer: Kerrowan\r\nContent-type: text/html\r\n\r\n<HTML>\r\n"
         "<HEAD>\r\n<TITLE>\r\nAccess Restricted\r\n</TITLE>\r\n</HEAD>\r\n" +
         body + "\r\n</HTML>\r\n\r\n\r\n";
}

}  // namespace testkit
}  // namespace tarnwick
