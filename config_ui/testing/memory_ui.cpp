// memory_ui.cpp -- the in-memory front end.
#include "memory_ui.h"

#include <stdexcept>

namespace config_ui {
namespace testkit {
namespace {

bool IsTwoStateBox(const ControlTemplate& t) {
  return t.kind == ControlKind::kCheck || t.kind == ControlKind::kRadio;
}

}  // namespace

MemoryWindow::MemoryWindow(MemoryUi& ui, WindowLogic& logic) : ui_(ui), logic_(logic) {
  const WindowTemplate& tmpl = logic.Template();
  for (std::size_t i = 0; i < tmpl.controlCount; ++i) {
    const ControlTemplate& c = tmpl.controls[i];
    if (c.id == IDC_STATIC) continue;
    Control& control = controls_[c.id];
    control.tmpl = &c;
    control.text = c.text;
    control.enabled = (c.style & PL_WS_DISABLED) == 0;
  }
}

MemoryWindow::Control& MemoryWindow::control(int id) {
  auto it = controls_.find(id);
  if (it == controls_.end()) {
    throw std::out_of_range("no control " + std::to_string(id) + " in " + name());
  }
  return it->second;
}

MemoryWindow::Item& MemoryWindow::item(int id, int index) {
  return control(id).items.at(static_cast<std::size_t>(index));
}

void MemoryWindow::Click(int id) {
  Control& c = control(id);
  if (!c.enabled) return;
  if (c.tmpl->kind == ControlKind::kCheck) {
    c.check = c.check == 1 ? 0 : 1;
  } else if (c.tmpl->kind == ControlKind::kRadio) {
    for (auto& [otherId, other] : controls_) {
      if (other.tmpl->kind == ControlKind::kRadio) other.check = 0;
    }
    c.check = 1;
  }
  focus_ = id;
  if (id == IDOK_BUTTON && c.tmpl->kind == ControlKind::kDefButton) {
    PressOk();
  } else if (id == IDCANCEL_BUTTON) {
    PressCancel();
  } else {
    logic_.OnCommand(id);
  }
}

void MemoryWindow::Type(int id, const std::string& text) {
  Control& c = control(id);
  c.text = c.limit > 0 && text.size() > static_cast<std::size_t>(c.limit) ? text.substr(0, c.limit)
                                                                           : text;
  c.selectedAll = false;
}

void MemoryWindow::ClickItem(int id, int index) {
  Control& c = control(id);
  for (Item& i : c.items) i.selected = false;
  if (index >= 0) c.items.at(static_cast<std::size_t>(index)).selected = true;
  focus_ = id;
  logic_.OnListClick(id);
}

void MemoryWindow::SelectItems(int id, const std::vector<int>& indexes) {
  Control& c = control(id);
  for (Item& i : c.items) i.selected = false;
  for (int index : indexes) c.items.at(static_cast<std::size_t>(index)).selected = true;
}

void MemoryWindow::EditLabel(int id, int index, const std::string& text) {
  if (!(control(id).tmpl->style & PL_LVS_EDITLABELS)) return;
  if (!logic_.OnBeginLabelEdit(id, index)) return;
  if (logic_.OnEndLabelEdit(id, index, text)) SetItemText(id, index, 0, text);
}

bool MemoryWindow::PressOk() {
  if (closed_) return true;
  closed_ = logic_.OnDialogOk();
  return closed_;
}

void MemoryWindow::PressCancel() { closed_ = true; }

std::string MemoryWindow::GetText(int id) { return control(id).text; }
void MemoryWindow::SetText(int id, const std::string& text) { control(id).text = text; }
void MemoryWindow::LimitText(int id, int characters) { control(id).limit = characters; }

void MemoryWindow::FocusAndSelectAll(int id) {
  Control& c = control(id);
  if (c.tmpl->kind == ControlKind::kEdit) c.selectedAll = true;
  if (c.enabled) focus_ = id;
}

int MemoryWindow::GetCheck(int id) { return control(id).check; }

void MemoryWindow::SetCheck(int id, int state) {
  Control& c = control(id);
  // A two-state box takes 2 (and anything above) as ticked.
  c.check = IsTwoStateBox(*c.tmpl) && state > 1 ? 1 : state;
}

void MemoryWindow::Enable(int id, bool enabled) { control(id).enabled = enabled; }
bool MemoryWindow::IsEnabled(int id) { return control(id).enabled; }
bool MemoryWindow::HasGlyphs(int id) { return control(id).glyphs; }
void MemoryWindow::AttachGlyphs(int id) { control(id).glyphs = true; }

void MemoryWindow::InsertColumn(int id, int column, const std::string& heading) {
  control(id).InsertColumn(column, heading);
}

void MemoryWindow::SetColumnWidth(int id, int column, int width) {
  control(id).widths.at(static_cast<std::size_t>(column)) = width;
}

// Pixel widths of the 8-point dialog font are not known here; a fixed 7
// per character stands for them.
int MemoryWindow::TextWidth(int id, const std::string& text) {
  control(id);
  return static_cast<int>(7 * text.size());
}

int MemoryWindow::InsertItem(int id, int position, const std::string& text, int glyph) {
  Control& c = control(id);
  return c.Insert(position, text, glyph, (c.tmpl->style & PL_LVS_SORTASCENDING) != 0);
}

int MemoryWindow::ItemCount(int id) { return static_cast<int>(control(id).items.size()); }

std::string MemoryWindow::GetItemText(int id, int index, int column) {
  Item& i = item(id, index);
  return static_cast<std::size_t>(column) < i.texts.size() ? i.texts[column] : std::string();
}

void MemoryWindow::SetItemText(int id, int index, int column, const std::string& text) {
  Item& i = item(id, index);
  if (static_cast<std::size_t>(column) >= i.texts.size()) i.texts.resize(column + 1);
  i.texts[column] = text;
}

int MemoryWindow::GetItemGlyph(int id, int index) { return item(id, index).glyph; }
void MemoryWindow::SetItemGlyph(int id, int index, int glyph) { item(id, index).glyph = glyph; }

int MemoryWindow::FirstSelectedItem(int id) { return control(id).FirstSelected(); }

void MemoryWindow::ShowMessage(const std::string& text, MessageIcon icon) {
  ui_.messages_.push_back({name(), MessageCaption(), text, icon});
}

void MemoryWindow::RunDialog(WindowLogic& dialog) {
  MemoryWindow window(ui_, dialog);
  ui_.dialogsRun_.push_back(window.name());
  dialog.OnCreate(window);
  if (!ui_.dialogScripts_.empty()) {
    MemoryUi::DialogScript script = std::move(ui_.dialogScripts_.front());
    ui_.dialogScripts_.pop_front();
    script(window);
  }
  window.closed_ = true;
  dialog.OnDestroy();
}

Controls& MemorySheet::CreatePage(void* context, int index, PropertyPage& page) {
  auto* self = static_cast<MemorySheet*>(context);
  auto& window = self->windows_[index];
  window.reset(new MemoryWindow(*self, page));
  return *window;
}

void MemorySheet::RunSheet(CPelluminSheet& sheet) {
  ++runs_;
  sheet_ = &sheet;
  windows_.clear();
  driver_.reset(new SheetDriver(sheet, &MemorySheet::CreatePage, this));
  driver_->Start();
  script_(*this);
  for (auto& [index, window] : windows_) sheet.Page(index).OnDestroy();
  driver_.reset();
}

}  // namespace testkit
}  // namespace config_ui
