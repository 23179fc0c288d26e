// win32_ui.cpp -- Controls over HWNDs, the page and dialog procedures, and
// the property sheet.
#include "win32_ui.h"

#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

#include "controls.h"
#include "templates.h"

namespace config_ui {
namespace win32 {

// resource.h spells the Win32 style bits out for the resource compiler and
// the other front ends; they must be the real ones.
static_assert(PL_WS_POPUP == WS_POPUP && PL_WS_CHILD == WS_CHILD && PL_WS_VISIBLE == WS_VISIBLE &&
                  PL_WS_DISABLED == WS_DISABLED && PL_WS_CAPTION == WS_CAPTION &&
                  PL_WS_BORDER == WS_BORDER && PL_WS_SYSMENU == WS_SYSMENU &&
                  PL_WS_GROUP == WS_GROUP && PL_WS_TABSTOP == WS_TABSTOP &&
                  PL_DS_MODALFRAME == DS_MODALFRAME,
              "window styles");
static_assert(PL_ES_AUTOHSCROLL == ES_AUTOHSCROLL && PL_BS_PUSHBUTTON == BS_PUSHBUTTON &&
                  PL_BS_DEFPUSHBUTTON == BS_DEFPUSHBUTTON && PL_BS_AUTOCHECKBOX == BS_AUTOCHECKBOX &&
                  PL_BS_GROUPBOX == BS_GROUPBOX && PL_BS_AUTORADIOBUTTON == BS_AUTORADIOBUTTON &&
                  PL_SS_LEFT == SS_LEFT && PL_SS_BLACKRECT == SS_BLACKRECT &&
                  PL_SS_WHITERECT == SS_WHITERECT && PL_SS_SUNKEN == SS_SUNKEN,
              "control styles");
static_assert(PL_LVS_REPORT == LVS_REPORT && PL_LVS_SMALLICON == LVS_SMALLICON &&
                  PL_LVS_SORTASCENDING == LVS_SORTASCENDING &&
                  PL_LVS_SHAREIMAGELISTS == LVS_SHAREIMAGELISTS &&
                  PL_LVS_NOLABELWRAP == LVS_NOLABELWRAP && PL_LVS_AUTOARRANGE == LVS_AUTOARRANGE &&
                  PL_LVS_EDITLABELS == LVS_EDITLABELS,
              "list view styles");
static_assert(kColumnFillRemainder == LVSCW_AUTOSIZE_USEHEADER, "column width");
static_assert(IDOK_BUTTON == IDOK && IDCANCEL_BUTTON == IDCANCEL, "button identifiers");

namespace {

// The glyph colour that the image list masks out.
constexpr COLORREF kGlyphMaskColour = RGB(128, 0, 128);

class WindowControls final : public Controls {
 public:
  WindowControls(HWND window, WindowLogic& logic) : window_(window), logic_(logic) {}
  ~WindowControls() override {
    // The lists only borrow their image lists (shared-image-list style).
    for (auto& [id, images] : glyphs_) ImageList_Destroy(images);
  }

  WindowLogic& logic() { return logic_; }

  std::string GetText(int id) override {
    HWND c = Item(id);
    const int length = GetWindowTextLengthA(c);
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(c, text.data(), length + 1);
    return text.data();
  }
  void SetText(int id, const std::string& text) override { SetWindowTextA(Item(id), text.c_str()); }
  void LimitText(int id, int characters) override {
    SendMessageA(Item(id), EM_LIMITTEXT, static_cast<WPARAM>(characters), 0);
  }
  void FocusAndSelectAll(int id) override {
    HWND c = Item(id);
    if (IsWindowEnabled(c)) SendMessageA(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(c), TRUE);
    SendMessageA(c, EM_SETSEL, 0, -1);
  }
  int GetCheck(int id) override {
    return static_cast<int>(SendMessageA(Item(id), BM_GETCHECK, 0, 0));
  }
  void SetCheck(int id, int state) override {
    SendMessageA(Item(id), BM_SETCHECK, static_cast<WPARAM>(state), 0);
  }
  void Enable(int id, bool enabled) override { EnableWindow(Item(id), enabled ? TRUE : FALSE); }
  bool IsEnabled(int id) override { return IsWindowEnabled(Item(id)) != FALSE; }

  bool HasGlyphs(int id) override {
    auto it = glyphs_.find(id);
    return it != glyphs_.end() &&
           reinterpret_cast<HIMAGELIST>(SendMessageA(Item(id), LVM_GETIMAGELIST, LVSIL_SMALL, 0)) ==
               it->second;
  }
  void AttachGlyphs(int id) override {
    HIMAGELIST images = ImageList_LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDB_CATEGORY_GLYPHS),
                                             16, 16, kGlyphMaskColour, IMAGE_BITMAP, 0);
    if (images == nullptr) return;
    auto it = glyphs_.find(id);
    if (it != glyphs_.end()) ImageList_Destroy(it->second);
    glyphs_[id] = images;
    SendMessageA(Item(id), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
  }
  void InsertColumn(int id, int column, const std::string& heading) override {
    LVCOLUMNA c = {};
    c.mask = LVCF_FMT | LVCF_TEXT;
    c.fmt = LVCFMT_LEFT;
    c.pszText = const_cast<char*>(heading.c_str());
    SendMessageA(Item(id), LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&c));
  }
  void SetColumnWidth(int id, int column, int width) override {
    SendMessageA(Item(id), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column),
                 MAKELPARAM(static_cast<WORD>(width), 0));
  }
  int TextWidth(int id, const std::string& text) override {
    return static_cast<int>(SendMessageA(Item(id), LVM_GETSTRINGWIDTHA, 0,
                                         reinterpret_cast<LPARAM>(text.c_str())));
  }
  int InsertItem(int id, int position, const std::string& text, int glyph) override {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | (glyph >= 0 ? LVIF_IMAGE : 0);
    item.iItem = position;
    item.pszText = const_cast<char*>(text.c_str());
    item.iImage = glyph;
    return static_cast<int>(SendMessageA(Item(id), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  }
  int ItemCount(int id) override {
    return static_cast<int>(SendMessageA(Item(id), LVM_GETITEMCOUNT, 0, 0));
  }
  std::string GetItemText(int id, int item, int column) override {
    // The list answers with the length it copied: grow until it fits.
    for (std::size_t size = 512;; size *= 2) {
      std::vector<char> text(size, '\0');
      LVITEMA request = {};
      request.iSubItem = column;
      request.pszText = text.data();
      request.cchTextMax = static_cast<int>(size);
      const LRESULT copied = SendMessageA(Item(id), LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                                          reinterpret_cast<LPARAM>(&request));
      if (static_cast<std::size_t>(copied) + 1 < size || size >= (1u << 24)) return text.data();
    }
  }
  void SetItemText(int id, int item, int column, const std::string& text) override {
    LVITEMA request = {};
    request.iSubItem = column;
    request.pszText = const_cast<char*>(text.c_str());
    SendMessageA(Item(id), LVM_SETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&request));
  }
  int GetItemGlyph(int id, int item) override {
    LVITEMA request = {};
    request.mask = LVIF_IMAGE;
    request.iItem = item;
    if (!SendMessageA(Item(id), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request))) return -1;
    return request.iImage;
  }
  void SetItemGlyph(int id, int item, int glyph) override {
    LVITEMA request = {};
    request.mask = LVIF_IMAGE;
    request.iItem = item;
    request.iImage = glyph;
    SendMessageA(Item(id), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&request));
  }
  int FirstSelectedItem(int id) override {
    return static_cast<int>(SendMessageA(Item(id), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                         MAKELPARAM(LVNI_SELECTED, 0)));
  }
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    MessageBoxA(window_, text.c_str(), MessageCaption().c_str(),
                MB_OK | (icon == MessageIcon::kWarning ? MB_ICONWARNING : 0));
  }
  void RunDialog(WindowLogic& dialog) override;

 private:
  HWND Item(int id) { return GetDlgItem(window_, id); }

  HWND window_;
  WindowLogic& logic_;
  std::map<int, HIMAGELIST> glyphs_;
};

WindowControls* ControlsOf(HWND window) {
  return reinterpret_cast<WindowControls*>(GetWindowLongPtrA(window, DWLP_USER));
}

// Ends the window's logic and controls with the window.
void Forget(HWND window) {
  WindowControls* controls = ControlsOf(window);
  if (controls == nullptr) return;
  controls->logic().OnDestroy();
  SetWindowLongPtrA(window, DWLP_USER, 0);
  delete controls;
}

BOOL Result(HWND window, LONG_PTR result) {
  SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return TRUE;
}

// An in-place edit's text in the code page the logic works in.
bool EndLabelEdit(WindowControls& controls, const NMHDR& header, WPARAM, bool* accepted) {
  std::string text;
  int item = 0;
  if (header.code == LVN_ENDLABELEDITA) {
    const auto& info = reinterpret_cast<const NMLVDISPINFOA&>(header);
    if (info.item.pszText == nullptr) return false;  // cancelled
    text = info.item.pszText;
    item = info.item.iItem;
  } else {
    const auto& info = reinterpret_cast<const NMLVDISPINFOW&>(header);
    if (info.item.pszText == nullptr) return false;
    const int size = WideCharToMultiByte(CP_ACP, 0, info.item.pszText, -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> bytes(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, info.item.pszText, -1, bytes.data(), size, nullptr, nullptr);
    text = bytes.data();
    item = info.item.iItem;
  }
  *accepted = controls.logic().OnEndLabelEdit(static_cast<int>(header.idFrom), item, text);
  return true;
}

// Notifications and commands that pages and dialogs share. True when
// handled, with *result set.
bool HandleControlEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LONG_PTR* result) {
  WindowControls* controls = ControlsOf(window);
  if (controls == nullptr) return false;
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    controls->logic().OnCommand(LOWORD(wParam));
    *result = 0;
    return true;
  }
  if (message != WM_NOTIFY) return false;
  const NMHDR& header = *reinterpret_cast<const NMHDR*>(lParam);
  switch (header.code) {
    case NM_CLICK:
      controls->logic().OnListClick(static_cast<int>(header.idFrom));
      *result = 0;
      return true;
    case LVN_BEGINLABELEDITA:
    case LVN_BEGINLABELEDITW: {
      // Both forms start with the header and the item's index.
      const int item = header.code == LVN_BEGINLABELEDITA
                           ? reinterpret_cast<const NMLVDISPINFOA&>(header).item.iItem
                           : reinterpret_cast<const NMLVDISPINFOW&>(header).item.iItem;
      *result = controls->logic().OnBeginLabelEdit(static_cast<int>(header.idFrom), item) ? FALSE : TRUE;
      return true;
    }
    case LVN_ENDLABELEDITA:
    case LVN_ENDLABELEDITW: {
      bool accepted = false;
      *result = EndLabelEdit(*controls, header, wParam, &accepted) && accepted ? TRUE : FALSE;
      return true;
    }
    default:
      return false;
  }
}

INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* sheetPage = reinterpret_cast<PROPSHEETPAGEA*>(lParam);
      auto* page = reinterpret_cast<PropertyPage*>(sheetPage->lParam);
      auto* controls = new WindowControls(window, *page);
      SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(controls));
      page->OnCreate(*controls);
      return TRUE;
    }
    case WM_NOTIFY: {
      WindowControls* controls = ControlsOf(window);
      if (controls == nullptr) return FALSE;
      switch (reinterpret_cast<const NMHDR*>(lParam)->code) {
        case PSN_SETACTIVE:
          controls->logic().OnSetActive();
          return Result(window, 0);
        case PSN_KILLACTIVE:
          controls->logic().OnKillActive();
          return Result(window, FALSE);
        case PSN_APPLY:
          controls->logic().OnApply();
          return Result(window, PSNRET_NOERROR);
        case PSN_RESET:
          return Result(window, 0);
        default:
          break;
      }
      LONG_PTR result = 0;
      if (HandleControlEvent(window, message, wParam, lParam, &result)) return Result(window, result);
      return FALSE;
    }
    case WM_COMMAND: {
      LONG_PTR result = 0;
      return HandleControlEvent(window, message, wParam, lParam, &result) ? TRUE : FALSE;
    }
    case WM_DESTROY:
      Forget(window);
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* logic = reinterpret_cast<WindowLogic*>(lParam);
      auto* controls = new WindowControls(window, *logic);
      SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(controls));
      logic->OnCreate(*controls);
      return TRUE;
    }
    case WM_COMMAND: {
      WindowControls* controls = ControlsOf(window);
      if (controls == nullptr) return FALSE;
      // Enter and Esc arrive as IDOK and IDCANCEL, whatever has the focus;
      // the close box as IDCANCEL.
      if (LOWORD(wParam) == IDOK) {
        if (controls->logic().OnDialogOk()) EndDialog(window, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, IDCANCEL);
        return TRUE;
      }
      LONG_PTR result = 0;
      return HandleControlEvent(window, message, wParam, lParam, &result) ? TRUE : FALSE;
    }
    case WM_NOTIFY: {
      LONG_PTR result = 0;
      if (HandleControlEvent(window, message, wParam, lParam, &result)) return Result(window, result);
      return FALSE;
    }
    case WM_DESTROY:
      Forget(window);
      return FALSE;
    default:
      return FALSE;
  }
}

void WindowControls::RunDialog(WindowLogic& dialog) {
  DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(dialog.Template().id), nullptr, &DialogProc,
                  reinterpret_cast<LPARAM>(&dialog));
}

}  // namespace

HINSTANCE ResourceModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ResourceModule), &module);
  return module;
}

void Win32SheetFrontEnd::RunSheet(CPelluminSheet& sheet) {
  INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&classes);
  HINSTANCE module = ResourceModule();

  char path[MAX_PATH] = "";
  if (GetModuleFileNameA(module, path, sizeof path) > 0) SetMessageCaption(CaptionFromModulePath(path));

  char caption[256] = "";
  if (LoadStringA(module, IDS_SHEET_CAPTION, caption, sizeof caption) == 0) {
    lstrcpynA(caption, sheet.Caption(), sizeof caption);
  }

  PROPSHEETPAGEA pages[CPelluminSheet::kPageCount] = {};
  for (int i = 0; i < CPelluminSheet::kPageCount; ++i) {
    pages[i].dwSize = sizeof(PROPSHEETPAGEA);
    pages[i].dwFlags = PSP_DEFAULT;  // tab caption from the template, no Help
    pages[i].hInstance = module;
    pages[i].pszTemplate = MAKEINTRESOURCEA(sheet.Page(i).Template().id);
    pages[i].pfnDlgProc = &PageProc;
    pages[i].lParam = reinterpret_cast<LPARAM>(&sheet.Page(i));
  }
  PROPSHEETHEADERA header = {};
  header.dwSize = sizeof(header);
  header.dwFlags = PSH_PROPSHEETPAGE;
  header.hwndParent = nullptr;
  header.hInstance = module;
  header.pszCaption = caption;
  header.nPages = CPelluminSheet::kPageCount;
  header.nStartPage = 0;
  header.ppsp = pages;
  PropertySheetA(&header);
}

}  // namespace win32
}  // namespace config_ui
