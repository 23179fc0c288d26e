// The settings sheet of Tarnwick.dll driven as a user would, from another
// thread: pages switched with PSM_SETCURSEL, boxes clicked with BM_CLICK,
// list items clicked with mouse messages at their rectangles, labels edited
// in place, message boxes answered from a CBT hook, OK and Cancel pressed
// with PSM_PRESSBUTTON; then the registry is read back. Runs under Wine and
// a virtual desktop (gui_test.sh). With PELLUMIN_SHOT_DIR set it asks for a
// screenshot of each page and dialog (NAME.req there, answered by NAME.done).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "templates.h"

namespace {

constexpr char kSheetCaption[] = "Pellumin Contol List Processing";
constexpr char kTestRoot[] = "Software\\PelluminSheetTest";
constexpr int kList = 1005;

using HXConfigFunction = int(__stdcall*)(const char*);

HMODULE g_plugin = nullptr;
HXConfigFunction g_hxconfig = nullptr;

// --- Message boxes, answered on the sheet's thread -----------------------------

struct Answered {
  std::string caption;
  std::string text;
  bool icon;
};
std::mutex g_answeredLock;
std::vector<Answered> g_answered;
HHOOK g_hook = nullptr;

std::string TextOf(HWND window) {
  char text[4096] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

LRESULT CALLBACK AnswerMessageBoxes(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND window = reinterpret_cast<HWND>(wParam);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    // A message box: a dialog with the message's static text (id 0xFFFF).
    HWND text = GetDlgItem(window, 0xFFFF);
    if (std::string(className) == "#32770" && text != nullptr && GetDlgItem(window, IDOK) != nullptr &&
        TextOf(window) != kSheetCaption && TextOf(window) != "Mail Settings" &&
        TextOf(window) != "Times") {
      HWND icon = GetDlgItem(window, 0x0440);
      const bool hasIcon = icon != nullptr &&
                           (IsWindowVisible(icon) || SendMessageA(icon, STM_GETICON, 0, 0) != 0);
      {
        std::lock_guard<std::mutex> lock(g_answeredLock);
        g_answered.push_back({TextOf(window), TextOf(text), hasIcon});
      }
      PostMessageA(window, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

std::vector<Answered> TakeAnswered() {
  std::lock_guard<std::mutex> lock(g_answeredLock);
  std::vector<Answered> out;
  out.swap(g_answered);
  return out;
}

// --- The registry ----------------------------------------------------------------

std::string KeyPath(const std::string& name) { return std::string(kTestRoot) + "\\" + name; }

void DeleteKey(const std::string& path) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str()); }

void PutDword(const std::string& path, const char* name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

void PutString(const std::string& path, const char* name, const std::string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

// Every value below path, subkeys included, as "key|name|type|hex bytes".
void Dump(HKEY parent, const std::string& path, std::map<std::string, std::string>* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD nameSize = sizeof name;
    BYTE data[8192];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    std::string hex;
    for (DWORD b = 0; b < dataSize; ++b) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", data[b]);
      hex += two;
    }
    (*out)[path + "|" + name] = std::to_string(type) + "|" + hex;
  }
  std::vector<std::string> subkeys;
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    subkeys.push_back(name);
  }
  RegCloseKey(key);
  for (const std::string& sub : subkeys) {
    (*out)[path + "\\" + sub + "|"] = "key";
    Dump(parent, path + "\\" + sub, out);
  }
}

std::map<std::string, std::string> Dump(const std::string& path) {
  std::map<std::string, std::string> out;
  Dump(HKEY_LOCAL_MACHINE, path, &out);
  return out;
}

bool GetDword(const std::string& path, const char* name, DWORD* value) {
  DWORD size = sizeof *value;
  DWORD type = 0;
  return RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_ANY, &type, value, &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD && size == 4;
}

bool GetString(const std::string& path, const char* name, std::string* text) {
  char buffer[8192];
  DWORD size = sizeof buffer;
  DWORD type = 0;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, buffer,
                   &size) != ERROR_SUCCESS ||
      type != REG_SZ || size == 0 || buffer[size - 1] != '\0') {
    return false;
  }
  *text = buffer;
  return true;
}

int ValueCount(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
  DWORD values = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return static_cast<int>(values);
}

// --- Playing the user, from a thread of its own ------------------------------------

HWND WaitForWindow(const char* caption) {
  for (int i = 0; i < 500; ++i) {
    HWND window = FindWindowA("#32770", caption);
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(20);
  }
  return nullptr;
}

// Lets the sheet's thread handle what was posted to it.
void Settle() {
  Sleep(150);
  HWND sheet = FindWindowA("#32770", kSheetCaption);
  if (sheet != nullptr) SendMessageA(sheet, WM_NULL, 0, 0);
}

void Screenshot(HWND window, const char* name) {
  const char* dir = std::getenv("PELLUMIN_SHOT_DIR");
  if (dir == nullptr || *dir == '\0' || window == nullptr) return;
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT r;
  GetWindowRect(window, &r);
  const std::string base = std::string(dir) + "\\" + name;
  const std::string done = base + ".done";
  DeleteFileA(done.c_str());
  FILE* f = std::fopen((base + ".req").c_str(), "w");
  if (f == nullptr) return;
  std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  std::fclose(f);
  for (int i = 0; i < 300 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

struct Robot {
  HWND sheet = nullptr;

  HWND Page() { return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }
  HWND Control(int id) { return GetDlgItem(Page(), id); }
  void Select(int tab) {
    SendMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(tab), 0);
    Settle();
  }
  void Click(int id) { SendMessageA(Control(id), BM_CLICK, 0, 0); }
  // A click that opens a modal window must not wait for it to close.
  void ClickAndGoOn(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }
  int Check(int id) { return static_cast<int>(SendMessageA(Control(id), BM_GETCHECK, 0, 0)); }
  bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }

  int ItemCount() { return static_cast<int>(SendMessageA(Control(kList), LVM_GETITEMCOUNT, 0, 0)); }
  std::string ItemText(int item, int column, HWND list = nullptr) {
    char text[1024] = "";
    LVITEMA request = {};
    request.iSubItem = column;
    request.pszText = text;
    request.cchTextMax = sizeof text;
    SendMessageA(list ? list : Control(kList), LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(&request));
    return text;
  }
  int Glyph(int item) {
    LVITEMA request = {};
    request.mask = LVIF_IMAGE;
    request.iItem = item;
    SendMessageA(Control(kList), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request));
    return request.iImage;
  }
  int ItemOf(const char* category) {
    for (int i = 0; i < ItemCount(); ++i) {
      if (ItemText(i, 1) == category) return i;
    }
    return -1;
  }
  // A mouse click in the middle of the item's label.
  void ClickItem(int item) {
    HWND list = Control(kList);
    RECT r = {};
    r.left = LVIR_LABEL;
    SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&r));
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
    Settle();
  }
  void RenameItem(int item, const char* text) {
    HWND list = Control(kList);
    SendMessageA(list, WM_SETFOCUS, 0, 0);
    HWND edit = reinterpret_cast<HWND>(SendMessageA(list, LVM_EDITLABELA, static_cast<WPARAM>(item), 0));
    ASSERT_NE(edit, nullptr);
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    SendMessageA(edit, WM_KEYDOWN, VK_RETURN, 0);
    Settle();
  }
  std::string TabCaption(int tab) {
    HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    char text[128] = "";
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, static_cast<WPARAM>(tab), reinterpret_cast<LPARAM>(&item));
    return text;
  }
  void Press(int button) {
    PostMessageA(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
  }
};

// What differs between a window's controls and its description: every
// control with an identifier must be there, of its kind, with the
// description's text and style bits, at the description's rectangle.
std::vector<std::string> CompareWithTemplate(HWND window, const config_ui::WindowTemplate& t) {
  std::vector<std::string> problems;
  for (std::size_t i = 0; i < t.controlCount; ++i) {
    const config_ui::ControlTemplate& c = t.controls[i];
    if (c.id == IDC_STATIC) continue;
    const std::string name = std::string(t.name) + " control " + std::to_string(c.id);
    HWND control = GetDlgItem(window, c.id);
    if (control == nullptr) {
      problems.push_back(name + " missing");
      continue;
    }
    // The dialog manager converts position and size each on its own, as
    // MapDialogRect converts each field of a rectangle.
    RECT want = {c.x, c.y, c.width, c.height};
    MapDialogRect(window, &want);
    RECT got;
    GetWindowRect(control, &got);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&got), 2);
    if (got.left != want.left || got.top != want.top || got.right - got.left != want.right ||
        got.bottom - got.top != want.bottom) {
      problems.push_back(name + " not at its place");
    }
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE));
    // Buttons change their own push-button bits as the focus moves, and the
    // dialog manager draws the border of edits and lists as a sunken edge
    // (WS_EX_CLIENTEDGE) instead of WS_BORDER.
    DWORD mask = ~DWORD{0};
    if (c.kind == config_ui::ControlKind::kButton || c.kind == config_ui::ControlKind::kDefButton) {
      mask = ~DWORD{0x0F};
    } else if (c.kind == config_ui::ControlKind::kEdit || c.kind == config_ui::ControlKind::kList) {
      mask = ~DWORD{WS_BORDER};
    }
    if ((style & c.style & mask) != (c.style & mask)) problems.push_back(name + " style");
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(control, GWL_EXSTYLE));
    if ((c.style & WS_BORDER) && !(style & WS_BORDER) && !(exStyle & WS_EX_CLIENTEDGE)) {
      problems.push_back(name + " without border");
    }
    if (c.kind != config_ui::ControlKind::kEdit && c.kind != config_ui::ControlKind::kList &&
        TextOf(control) != c.text) {
      problems.push_back(name + " text \"" + TextOf(control) + "\"");
    }
  }
  return problems;
}

// Opens the sheet for path on this thread, as a host does, while script
// plays the user on another; returns HXConfig's result.
// A null path stands for the null argument.
int RunSheet(const char* path, const std::function<void(Robot&)>& script,
             HXConfigFunction entry = nullptr) {
  TakeAnswered();
  std::atomic<bool> found{false};
  std::thread user([&] {
    Robot robot;
    robot.sheet = WaitForWindow(kSheetCaption);
    if (robot.sheet == nullptr) return;
    found = true;
    Settle();
    script(robot);
  });
  g_hook = SetWindowsHookExA(WH_CBT, &AnswerMessageBoxes, nullptr, GetCurrentThreadId());
  const int result = (entry ? entry : g_hxconfig)(path);
  UnhookWindowsHookEx(g_hook);
  user.join();
  EXPECT_TRUE(found) << "no sheet captioned " << kSheetCaption;
  return result;
}

int RunSheet(const std::string& path, const std::function<void(Robot&)>& script,
             HXConfigFunction entry = nullptr) {
  return RunSheet(path.c_str(), script, entry);
}

class Sheet : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_plugin = LoadLibraryA("Tarnwick.dll");
    ASSERT_NE(g_plugin, nullptr);
    g_hxconfig = reinterpret_cast<HXConfigFunction>(reinterpret_cast<void*>(GetProcAddress(g_plugin, "HXConfig")));
    ASSERT_NE(g_hxconfig, nullptr);
  }
  void SetUp() override { DeleteKey(kTestRoot); }
  void TearDown() override { DeleteKey(kTestRoot); }
};

TEST_F(Sheet, ExportedByNameAtOrdinalOne) {
  EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(g_plugin, MAKEINTRESOURCEA(1))),
            reinterpret_cast<void*>(g_hxconfig));
}

TEST_F(Sheet, ShowsItsPagesAndCancelLeavesTheRegistryAsItWas) {
  const std::string path = KeyPath("cancel");
  PutString(path, "ControlFile", "D:\\control");
  PutDword(path, "DD", 0);
  PutDword(path, "Mail", 1);
  PutDword(path + "\\Deny", "SexState", 0);
  PutString(path + "\\Deny", "Sex", "Adult");
  const auto before = Dump(kTestRoot);
  std::vector<std::string> tabs;
  std::string controlFile, firstItem;
  int dd = -1, items = -1, glyphs = -1;
  bool mailSettings = false, emailBox = true, apply = true, help = true, owned = true;
  std::vector<std::string> headings, layout;
  const int result = RunSheet(path, [&](Robot& r) {
    for (int i = 0; i < 4; ++i) tabs.push_back(r.TabCaption(i));
    for (int i = 0; i < 4; ++i) {
      r.Select(i);
      const config_ui::WindowTemplate* pages[] = {
          &config_ui::GeneralPageTemplate(), &config_ui::DenyPageTemplate(),
          &config_ui::AlertPageTemplate(), &config_ui::HoursPageTemplate()};
      for (const std::string& p : CompareWithTemplate(r.Page(), *pages[i])) layout.push_back(p);
    }
    r.Select(0);
    owned = GetWindow(r.sheet, GW_OWNER) != nullptr;
    apply = IsWindowEnabled(GetDlgItem(r.sheet, 0x3021)) != FALSE;  // the Apply button
    HWND helpButton = GetDlgItem(r.sheet, IDHELP);
    help = helpButton != nullptr && IsWindowVisible(helpButton);
    controlFile = TextOf(r.Control(1007));
    Screenshot(r.sheet, "general");
    SendMessageA(r.Control(1007), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("changed"));
    r.Select(1);
    dd = r.Check(1000);
    items = r.ItemCount();
    firstItem = r.ItemText(0, 0);
    glyphs = ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(
        SendMessageA(r.Control(kList), LVM_GETIMAGELIST, LVSIL_SMALL, 0)));
    for (int column = 0; column < 2; ++column) {
      char text[64] = "";
      LVCOLUMNA c = {};
      c.mask = LVCF_TEXT;
      c.pszText = text;
      c.cchTextMax = sizeof text;
      SendMessageA(r.Control(kList), LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&c));
      headings.push_back(text);
    }
    Screenshot(r.sheet, "deny");
    r.Click(1000);
    r.ClickItem(0);
    r.Select(2);
    mailSettings = r.Enabled(1013);
    emailBox = r.Enabled(1012);
    Screenshot(r.sheet, "alert");
    r.Select(3);
    Screenshot(r.sheet, "hours");
    r.Press(PSBTN_CANCEL);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(tabs, (std::vector<std::string>{"General", "Deny", "Alert", "Busines Hours"}));
  EXPECT_EQ(controlFile, "D:\\control");
  EXPECT_EQ(dd, 0);
  EXPECT_EQ(items, 27);
  EXPECT_EQ(firstItem, "Adult");  // sorted by display name
  EXPECT_EQ(glyphs, 2);
  EXPECT_EQ(headings, (std::vector<std::string>{"Category Name", "Type"}));
  EXPECT_FALSE(owned);
  EXPECT_FALSE(apply);
  EXPECT_FALSE(help);
  EXPECT_EQ(layout, std::vector<std::string>{});
  EXPECT_TRUE(mailSettings);
  EXPECT_TRUE(emailBox);  // enabled: alert mail is delivered
  EXPECT_EQ(Dump(kTestRoot), before);
  EXPECT_TRUE(TakeAnswered().empty());
}

TEST_F(Sheet, OkAtOnceWritesOnlyTheGeneralPage) {
  const std::string path = KeyPath("ok");
  std::string shown;
  EXPECT_EQ(RunSheet(path,
                     [&](Robot& r) {
                       shown = TextOf(r.Control(1006));
                       r.Press(PSBTN_OK);
                     }),
            0);
  // The one-line edit holds the body's line breaks as they are.
  EXPECT_EQ(shown,
            "<BODY bgcolor=\"#FF0000\">\r\n<p><B>Access to this site is restricted.</B></p>\r\n</BODY>");
  const auto after = Dump(kTestRoot);
  EXPECT_EQ(after.size(), 4u);  // the key and its three values
  std::string text;
  ASSERT_TRUE(GetString(path, "ControlFile", &text));
  EXPECT_EQ(text, "C:\\Windows\\System32\\qxcontrol");
  ASSERT_TRUE(GetString(path, "SiteFile", &text));
  EXPECT_EQ(text, "C:\\Windows\\System32\\site.txt");
  ASSERT_TRUE(GetString(path, "ErrorMsg", &text));
  EXPECT_EQ(text,
            "<BODY bgcolor=\"#FF0000\">\r\n<p><B>Access to this site is restricted.</B></p>\r\n</BODY>");
}

TEST_F(Sheet, DenyPageClicksRenamesAndSavesItsSubkeyInFull) {
  const std::string path = KeyPath("deny");
  PutDword(path, "Personal", 7);
  int before = -1, after = -1, again = -1;
  std::string renamed;
  RunSheet(path, [&](Robot& r) {
    r.Select(1);
    const int journals = r.ItemOf("Alternative Journals");
    before = r.Glyph(journals);
    r.ClickItem(journals);
    after = r.Glyph(journals);
    r.ClickItem(journals);
    again = r.Glyph(journals);
    r.ClickItem(journals);
    const int sex = r.ItemOf("Sex");
    r.RenameItem(sex, "Adult only");
    renamed = r.ItemText(sex, 0);
    r.Click(1000);  // DD is missing from the main key: unticked, now ticked
    r.Select(0);
    r.Select(1);
    r.Press(PSBTN_OK);
  });
  EXPECT_EQ(before, 0);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(again, 0);
  EXPECT_EQ(renamed, "Adult only");
  EXPECT_EQ(ValueCount(path + "\\Deny"), 54);
  DWORD value = 99;
  ASSERT_TRUE(GetDword(path + "\\Deny", "Alternative JournalsState", &value));
  EXPECT_EQ(value, 1u);
  ASSERT_TRUE(GetDword(path + "\\Deny", "CultsState", &value));
  EXPECT_EQ(value, 1u);
  std::string text;
  ASSERT_TRUE(GetString(path + "\\Deny", "Sex", &text));
  EXPECT_EQ(text, "Adult only");
  ASSERT_TRUE(GetDword(path, "DD", &value));
  EXPECT_EQ(value, 1u);
  ASSERT_TRUE(GetDword(path, "Personal", &value));
  EXPECT_EQ(value, 0u);  // a stored 7 shows unticked
  EXPECT_EQ(ValueCount(path + "\\Alert"), -1);
  EXPECT_EQ(ValueCount(path + "\\Hours"), -1);
}

TEST_F(Sheet, MailSettingsRefusesABadPortAndKeepsTheFocusThere) {
  const std::string path = KeyPath("mail");
  PutDword(path, "Mail", 1);
  const auto before = Dump(kTestRoot);
  std::vector<Answered> answered;
  std::vector<std::string> layout;
  bool focusInPort = false, closed = false;
  std::string port;
  DWORD sheetThread = 0;
  RunSheet(path, [&](Robot& r) {
    sheetThread = GetWindowThreadProcessId(r.sheet, nullptr);
    r.Select(2);
    PostMessageA(r.Page(), WM_COMMAND, MAKEWPARAM(1013, BN_CLICKED), reinterpret_cast<LPARAM>(r.Control(1013)));
    HWND dialog = WaitForWindow("Mail Settings");
    ASSERT_NE(dialog, nullptr);
    port = TextOf(GetDlgItem(dialog, 1015));
    layout = CompareWithTemplate(dialog, config_ui::MailSettingsTemplate());
    // Under Wine's virtual desktop a window that lies wholly inside the
    // sheet's rectangle is not drawn (it shows black); beside it, it is.
    SetWindowPos(dialog, HWND_TOP, 440, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    Screenshot(dialog, "mail-settings");
    SendMessageA(GetDlgItem(dialog, 1015), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("0"));
    SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    Sleep(300);
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(sheetThread, &info);
    focusInPort = info.hwndFocus == GetDlgItem(dialog, 1015);
    answered = TakeAnswered();
    SendMessageA(GetDlgItem(dialog, 1015), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(" 26 "));
    SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    Sleep(300);
    closed = !IsWindow(dialog);
    r.Press(PSBTN_CANCEL);
  });
  EXPECT_EQ(port, "25");
  EXPECT_EQ(layout, std::vector<std::string>{});
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_EQ(answered[0].caption, "Tarnwick");
  EXPECT_EQ(answered[0].text, "Please enter an integer between 1 and 32000.");
  EXPECT_TRUE(focusInPort);
  EXPECT_TRUE(closed);
  EXPECT_EQ(Dump(kTestRoot), before);
}

// The dialog's OK keeps the values with the Alert page, the sheet's OK
// writes the "Mail" subkey, and the next opening shows them.
TEST_F(Sheet, MailSettingsAreStoredOnOkAndShownAgain) {
  const std::string path = KeyPath("mailok");
  PutDword(path, "Mail", 1);
  auto openDialog = [](Robot& r) {
    r.Select(2);
    PostMessageA(r.Page(), WM_COMMAND, MAKEWPARAM(1013, BN_CLICKED), reinterpret_cast<LPARAM>(r.Control(1013)));
    return WaitForWindow("Mail Settings");
  };
  RunSheet(path, [&](Robot& r) {
    HWND dialog = openDialog(r);
    ASSERT_NE(dialog, nullptr);
    SendMessageA(GetDlgItem(dialog, 1015), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("2526"));
    SendMessageA(GetDlgItem(dialog, 1016), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("ops@example.org"));
    SendMessageA(GetDlgItem(dialog, 1021), BM_CLICK, 0, 0);  // "Each"
    SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    Sleep(300);
    r.Press(PSBTN_OK);
  });
  DWORD value = 0;
  ASSERT_TRUE(GetDword(path + "\\Mail", "Port", &value));
  EXPECT_EQ(value, 2526u);
  ASSERT_TRUE(GetDword(path + "\\Mail", "Rhythm", &value));
  EXPECT_EQ(value, 2u);
  std::string port, to;
  int each = -1;
  bool countEnabled = true;
  const auto before = Dump(kTestRoot);
  RunSheet(path, [&](Robot& r) {
    HWND dialog = openDialog(r);
    ASSERT_NE(dialog, nullptr);
    port = TextOf(GetDlgItem(dialog, 1015));
    to = TextOf(GetDlgItem(dialog, 1016));
    each = static_cast<int>(SendMessageA(GetDlgItem(dialog, 1021), BM_GETCHECK, 0, 0));
    countEnabled = IsWindowEnabled(GetDlgItem(dialog, 1017)) != FALSE;
    SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    Sleep(300);
    r.Press(PSBTN_CANCEL);
  });
  EXPECT_EQ(port, "2526");
  EXPECT_EQ(to, "ops@example.org");
  EXPECT_EQ(each, BST_CHECKED);
  EXPECT_FALSE(countEnabled);
  EXPECT_EQ(Dump(kTestRoot), before);
}

TEST_F(Sheet, DefineHoursTellsTheFixedHoursThenListsTheDays) {
  const std::string path = KeyPath("hours");
  std::vector<std::string> days, layout;
  RunSheet(path, [&](Robot& r) {
    r.Select(3);
    r.ClickAndGoOn(r.Control(1010));
    HWND dialog = WaitForWindow("Times");
    ASSERT_NE(dialog, nullptr);
    layout = CompareWithTemplate(dialog, config_ui::TimesTemplate());
    HWND list = GetDlgItem(dialog, 1025);
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) days.push_back(r.ItemText(i, 0, list));
    Screenshot(dialog, "times");
    SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    Sleep(200);
    r.Press(PSBTN_OK);
  });
  const std::vector<Answered> answered = TakeAnswered();
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_EQ(answered[0].caption, "Tarnwick");
  EXPECT_EQ(answered[0].text,
            "Sorry, functionality is not available yet.\nBusiness hours are set to 8:00 AM to "
            "12:00 PM,\nand 1:00 PM to 5:00 PM.");
  EXPECT_EQ(layout, std::vector<std::string>{});
  EXPECT_EQ(days, (std::vector<std::string>{"Sunday", "Monday", "Tuesday", "Wednsday", "Thursday",
                                            "Friday", "Saturday"}));
  EXPECT_EQ(ValueCount(path + "\\Hours"), 54);
  EXPECT_EQ(ValueCount(path + "\\Deny"), -1);
  EXPECT_EQ(ValueCount(path), 3);
}

TEST_F(Sheet, AKeyThatCannotBeMadeIsReportedOnceAndTheSheetStillCloses) {
  // The registry refuses key names over 255 characters.
  const std::string path = KeyPath(std::string(300, 'k'));
  EXPECT_EQ(RunSheet(path, [](Robot& r) { r.Press(PSBTN_OK); }), 0);
  const std::vector<Answered> answered = TakeAnswered();
  ASSERT_EQ(answered.size(), 1u);
  EXPECT_EQ(answered[0].caption, "Tarnwick");
  EXPECT_EQ(answered[0].text, "Error saving settings to registry.");
  EXPECT_TRUE(answered[0].icon);
}

// The platform's two-state boxes take a stored 2 as ticked, and the pages
// save what the boxes report.
TEST_F(Sheet, AStoredTwoShowsTickedAndIsSavedAsOne) {
  const std::string path = KeyPath("two");
  for (const char* name : {"DD", "Personal", "Log", "Mail"}) PutDword(path, name, 2);
  int dd = -1, log = -1, mail = -1;
  bool mailSettings = false;
  RunSheet(path, [&](Robot& r) {
    r.Select(1);
    dd = r.Check(1000);
    r.Select(2);
    log = r.Check(1011);
    mail = r.Check(1012);
    mailSettings = r.Enabled(1013);
    r.Press(PSBTN_OK);
  });
  EXPECT_EQ(dd, 1);
  EXPECT_EQ(log, 1);
  EXPECT_EQ(mail, 1);
  EXPECT_TRUE(mailSettings);
  for (const char* name : {"DD", "Personal", "Log", "Mail"}) {
    DWORD value = 99;
    ASSERT_TRUE(GetDword(path, name, &value)) << name;
    EXPECT_EQ(value, 1u) << name;
  }
}

TEST_F(Sheet, ANullPathOpensTheSheetAndReturnsZero) {
  EXPECT_EQ(RunSheet(nullptr, [](Robot& r) { r.Press(PSBTN_CANCEL); }), 0);
}

// hxhost --config opens the same sheet in its own process.
TEST_F(Sheet, HxhostConfigOpensTheSheetAndExitsWhenItCloses) {
  const std::string path = KeyPath("hxhost");
  std::string command = "hxhost.exe --plugin Tarnwick.dll --config \"" + path + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process))
      << GetLastError();
  HWND sheet = WaitForWindow(kSheetCaption);
  EXPECT_NE(sheet, nullptr);
  if (sheet != nullptr) {
    Sleep(300);
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
  }
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
  DWORD exitCode = 99;
  GetExitCodeProcess(process.hProcess, &exitCode);
  if (exitCode == STILL_ACTIVE) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(ValueCount(path), 3);
}

TEST_F(Sheet, ASecondCallByOrdinalWorksOnItsOwnPathOnly) {
  const std::string first = KeyPath("first");
  const std::string second = KeyPath("second");
  RunSheet(first, [](Robot& r) { r.Press(PSBTN_OK); });
  const auto afterFirst = Dump(first);
  auto byOrdinal = reinterpret_cast<HXConfigFunction>(
      reinterpret_cast<void*>(GetProcAddress(g_plugin, MAKEINTRESOURCEA(1))));
  ASSERT_NE(byOrdinal, nullptr);
  PutString(second, "SiteFile", "E:\\site");
  std::string shown;
  RunSheet(
      second,
      [&](Robot& r) {
        shown = TextOf(r.Control(1008));
        r.Select(1);
        r.Press(PSBTN_OK);
      },
      byOrdinal);
  EXPECT_EQ(shown, "E:\\site");
  EXPECT_EQ(Dump(first), afterFirst);
  EXPECT_EQ(ValueCount(second + "\\Deny"), 54);
  EXPECT_EQ(ValueCount(second), 5);
}

}  // namespace
