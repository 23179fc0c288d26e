// Layout of every template on the terminal, at the sizes an administrator
// has: nothing painted outside its window, no two controls on the same
// cells, no control cut by a group box's frame.
#include "layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"
#include "templates.h"

namespace config_ui {
namespace terminal {
namespace {

struct Screen {
  int cols, rows;
};
const Screen kScreens[] = {{80, 24}, {100, 30}, {132, 43}, {200, 60}};

std::string Describe(const ControlTemplate& c) {
  return std::string(c.text[0] ? c.text : "(no text)") + " #" + std::to_string(c.id);
}

// The client area a template gets on a screen, and its scale.
void ClientOf(const WindowTemplate& w, Screen s, Scale* scale, int* width, int* height) {
  if (w.style == static_cast<std::uint32_t>(PL_PAGE_STYLE)) {
    const SheetLayout l = LayoutSheet(s.cols, s.rows);
    *scale = l.scale;
    *width = l.page.width;
    *height = l.page.height;
  } else {
    const DialogLayout d = LayoutDialog(w, s.cols, s.rows);
    *scale = d.scale;
    *width = d.box.client.width;
    *height = d.box.client.height;
  }
}

bool Inside(const CellRect& r, int width, int height) {
  return r.row >= 0 && r.col >= 0 && r.row + r.height <= height && r.col + r.width <= width;
}

TEST(Layout, EveryTemplateFitsWithoutOverlapsAtCommonSizes) {
  std::size_t count = 0;
  const WindowTemplate* const* all = AllTemplates(&count);
  for (Screen s : kScreens) {
    for (std::size_t w = 0; w < count; ++w) {
      const WindowTemplate& t = *all[w];
      Scale scale{};
      int width = 0, height = 0;
      ClientOf(t, s, &scale, &width, &height);
      const std::string where = std::string(t.name) + " at " + std::to_string(s.cols) + "x" +
                                std::to_string(s.rows);
      std::vector<CellRect> painted;
      for (std::size_t i = 0; i < t.controlCount; ++i) painted.push_back(PaintedCells(t, i, scale));
      for (std::size_t i = 0; i < t.controlCount; ++i) {
        const ControlTemplate& a = t.controls[i];
        EXPECT_TRUE(Inside(painted[i], width, height)) << where << ": " << Describe(a) << " outside";
        for (std::size_t j = i + 1; j < t.controlCount; ++j) {
          const ControlTemplate& b = t.controls[j];
          const bool aGroup = a.kind == ControlKind::kGroup, bGroup = b.kind == ControlKind::kGroup;
          if (!aGroup && !bGroup) {
            EXPECT_FALSE(painted[i].Overlaps(painted[j]))
                << where << ": " << Describe(a) << " and " << Describe(b) << " share cells";
            continue;
          }
          if (aGroup && bGroup) {
            EXPECT_FALSE(painted[i].Overlaps(painted[j])) << where << ": two group boxes overlap";
            continue;
          }
          // A control is inside a group box's frame lines or clear of them.
          const CellRect& g = aGroup ? painted[i] : painted[j];
          const CellRect& c = aGroup ? painted[j] : painted[i];
          const CellRect interior{g.row + 1, g.col + 1, g.height - 2, g.width - 2};
          const bool inside = c.row >= interior.row && c.col >= interior.col &&
                              c.row + c.height <= interior.row + interior.height &&
                              c.col + c.width <= interior.col + interior.width;
          EXPECT_TRUE(inside || !c.Overlaps(g))
              << where << ": " << Describe(aGroup ? b : a) << " crosses the frame of "
              << Describe(aGroup ? a : b);
        }
      }
    }
  }
}

TEST(Layout, ARadioButtonItsEditAndTheTextAfterShareOneRow) {
  // "After [10] alerts." and "Each [24] hours." read as two lines, as on
  // screen in the dialog font, although their tops differ by a unit or two.
  const WindowTemplate& mail = MailSettingsTemplate();
  for (Screen s : kScreens) {
    const Scale scale = LayoutDialog(mail, s.cols, s.rows).scale;
    auto row = [&](int id, const char* text) {
      for (std::size_t i = 0; i < mail.controlCount; ++i) {
        const ControlTemplate& c = mail.controls[i];
        if ((id != IDC_STATIC && c.id == id) || (id == IDC_STATIC && std::string(c.text) == text)) {
          return ControlCells(c, scale).row;
        }
      }
      ADD_FAILURE() << "no control " << id << " " << text;
      return -1;
    };
    const int after = row(IDC_SEND_AFTER, "");
    const int each = row(IDC_SEND_EACH, "");
    EXPECT_EQ(row(IDC_ALERT_COUNT, ""), after);
    EXPECT_EQ(row(IDC_STATIC, "alerts."), after);
    EXPECT_EQ(row(IDC_INTERVAL_HOURS, ""), each);
    EXPECT_EQ(row(IDC_STATIC, "hours."), each);
    EXPECT_EQ(each, after + 1);
    EXPECT_EQ(row(IDC_SMTP_SERVER, ""), row(IDC_SMTP_PORT, ""));
  }
}

TEST(Layout, TheSheetFillsAnEightyByTwentyFourScreen) {
  const SheetLayout l = LayoutSheet(80, 24);
  EXPECT_TRUE(l.fits);
  EXPECT_EQ(l.captionRow, 0);
  EXPECT_EQ(l.tabRow, 1);
  EXPECT_EQ(l.page.row, 3);  // under the frame's top line
  EXPECT_EQ(l.buttonRow, l.page.row + l.page.height + 1);
  EXPECT_EQ(l.helpRow, 23);
  EXPECT_LE(l.left + l.width, 80);
  EXPECT_GE(l.page.width, 76);  // a page of 230 units at three a column
  EXPECT_GE(l.page.height, 18);
  // OK, Cancel, Apply from left to right, apart, inside the sheet.
  EXPECT_LT(l.ok.col + l.ok.width, l.cancel.col);
  EXPECT_LT(l.cancel.col + l.cancel.width, l.apply.col);
  EXPECT_LE(l.apply.col + l.apply.width, l.left + l.width);
  EXPECT_GE(l.ok.col, l.left);
  EXPECT_EQ(SheetColumnsNeeded(), 79);
  EXPECT_EQ(SheetRowsNeeded(), 24);
}

TEST(Layout, TheSheetIsCentredOnALargeScreenAndShrinksOnASmallOne) {
  const SheetLayout big = LayoutSheet(120, 40);
  EXPECT_TRUE(big.fits);
  EXPECT_DOUBLE_EQ(big.scale.x, kPreferredScale.x);
  EXPECT_DOUBLE_EQ(big.scale.y, kPreferredScale.y);
  EXPECT_EQ(big.left, (120 - big.width) / 2);
  EXPECT_EQ(big.top, (40 - big.height) / 2);

  const SheetLayout small = LayoutSheet(60, 20);
  EXPECT_FALSE(small.fits);
  EXPECT_LE(small.left + small.width, 60);
  EXPECT_LE(small.helpRow, 19);
  EXPECT_LT(small.scale.x, kPreferredScale.x);
}

TEST(Layout, ADialogLargerThanTheScreenIsScaledToFit) {
  // The Times dialog measures 341 x 217 units: more than 80 x 24 at the
  // preferred scale.
  const DialogLayout d = LayoutDialog(TimesTemplate(), 80, 24);
  EXPECT_LE(d.box.frame.col + d.box.frame.width, 80);
  EXPECT_LE(d.box.frame.row + d.box.frame.height, 24);
  EXPECT_GE(d.box.frame.col, 0);
  EXPECT_GE(d.box.frame.row, 0);
  EXPECT_LT(d.scale.x, kPreferredScale.x);
  // The Mail Settings dialog keeps the preferred scale and is centred.
  const DialogLayout m = LayoutDialog(MailSettingsTemplate(), 80, 24);
  EXPECT_DOUBLE_EQ(m.scale.x, kPreferredScale.x);
  EXPECT_EQ(m.box.frame.col, (80 - m.box.frame.width) / 2);
  EXPECT_EQ(m.box.client.col, m.box.frame.col + 1);
}

TEST(TabStrip, MarksTheCurrentTabAndTellsWhereEachStarts) {
  const char* captions[] = {"General", "Deny", "Alert", "Busines Hours"};
  int starts[4];
  EXPECT_EQ(TabStrip(captions, 4, 1, starts), " General  [Deny]  Alert   Busines Hours ");
  EXPECT_EQ(starts[0], 0);
  EXPECT_EQ(starts[1], 10);
  EXPECT_EQ(starts[2], 17);
  EXPECT_EQ(starts[3], 25);
  EXPECT_EQ(TabStrip(captions, 4, 3, nullptr), " General   Deny   Alert  [Busines Hours]");
}

}  // namespace
}  // namespace terminal
}  // namespace config_ui
