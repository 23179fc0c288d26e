// The category and control sets through the C interface.
#include <gtest/gtest.h>

#include <cstring>

#include "corvane.h"

namespace {

class TypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = QX_AllocateTypes();
    b_ = QX_AllocateTypes();
    out_ = QX_AllocateTypes();
    service_ = QX_Init();
    ASSERT_TRUE(a_ && b_ && out_ && service_);
  }
  void TearDown() override {
    QX_FreeTypes(a_);
    QX_FreeTypes(b_);
    QX_FreeTypes(out_);
    QX_FreeService(service_);
  }
  QxTypes* foreign() { return reinterpret_cast<QxTypes*>(service_); }

  QxTypes* a_;
  QxTypes* b_;
  QxTypes* out_;
  QxService* service_;
};

TEST_F(TypesTest, NewSetIsEmptyAndMarked) {
  EXPECT_EQ(std::memcmp(a_->magic, "QXTP", 4), 0);
  for (int n = 1; n <= 27; ++n) EXPECT_EQ(QX_TestThisCategory(a_, n), QX_NO) << n;
  for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16}) {
    EXPECT_EQ(QX_TestThisControl(a_, n), QX_NO) << n;
  }
}

TEST_F(TypesTest, CategoryNumbersMapToTheirBits) {
  struct Case {
    int number;
    int result;
    uint32_t bits;
  } cases[] = {
      {1, QX_OK, 0x4},         {2, QX_OK, 0x8},         {27, QX_OK, 0x10000000},
      {0, QX_ERR_BAD_CATEGORY, 0}, {28, QX_ERR_BAD_CATEGORY, 0}, {-1, QX_ERR_BAD_CATEGORY, 0},
  };
  for (const Case& c : cases) {
    QX_ClearTypes(a_);
    EXPECT_EQ(QX_SetThisCategory(a_, c.number), c.result) << c.number;
    EXPECT_EQ(a_->categories, c.bits) << c.number;
    EXPECT_EQ(a_->controls, 0u) << c.number;
    EXPECT_EQ(QX_TestThisCategory(a_, c.number), c.result == QX_OK ? QX_YES : c.result);
    a_->categories = QX_ALL_CATEGORIES;
    EXPECT_EQ(QX_ClearThisCategory(a_, c.number), c.result) << c.number;
    EXPECT_EQ(a_->categories, QX_ALL_CATEGORIES & ~c.bits) << c.number;
  }
}

TEST_F(TypesTest, ControlNumbersMapToTheirBits) {
  struct Case {
    int number;
    int result;
    uint32_t bits;
  } cases[] = {
      {1, QX_OK, 0x1},   {9, QX_OK, 0x100},  {13, QX_OK, 0x1000},
      {16, QX_OK, 0x8000}, {0, QX_ERR_BAD_CONTROL, 0}, {14, QX_ERR_BAD_CONTROL, 0},
      {15, QX_ERR_BAD_CONTROL, 0}, {17, QX_ERR_BAD_CONTROL, 0}, {33, QX_ERR_BAD_CONTROL, 0},
  };
  for (const Case& c : cases) {
    QX_ClearTypes(a_);
    EXPECT_EQ(QX_SetThisControl(a_, c.number), c.result) << c.number;
    EXPECT_EQ(a_->controls, c.bits) << c.number;
    EXPECT_EQ(QX_TestThisControl(a_, c.number), c.result == QX_OK ? QX_YES : c.result);
    a_->controls = 0xFFFFFFFFu;
    EXPECT_EQ(QX_ClearThisControl(a_, c.number), c.result) << c.number;
    EXPECT_EQ(a_->controls, 0xFFFFFFFFu & ~c.bits) << c.number;
  }
}

TEST_F(TypesTest, SetAllTouchesOnlyItsOwnWord) {
  a_->controls = 0x2000;
  EXPECT_EQ(QX_SetAllCategory(a_), QX_OK);
  EXPECT_EQ(a_->categories, QX_ALL_CATEGORIES);
  EXPECT_EQ(a_->controls, 0x2000u);
  EXPECT_EQ(QX_TestThisCategory(a_, 27), QX_YES);
  EXPECT_EQ(QX_SetAllControl(a_), QX_OK);
  EXPECT_EQ(a_->controls, QX_ALL_CONTROLS);
  EXPECT_EQ(a_->categories, QX_ALL_CATEGORIES);
  EXPECT_EQ(QX_ClearTypes(a_), QX_OK);
  EXPECT_EQ(a_->controls | a_->categories, 0u);
}

TEST_F(TypesTest, BadHandlesAreRefusedBeforeAnythingIsWritten) {
  using SetOp = int (*)(QxTypes*);
  using NumberOp = int (*)(QxTypes*, int);
  for (SetOp op : {SetOp(QX_ClearTypes), SetOp(QX_SetAllCategory), SetOp(QX_SetAllControl),
                   SetOp(QX_FreeTypes)}) {
    EXPECT_EQ(op(nullptr), QX_ERR_NULL_HANDLE);
    EXPECT_EQ(op(foreign()), QX_ERR_BAD_HANDLE);
  }
  for (NumberOp op : {NumberOp(QX_SetThisCategory), NumberOp(QX_ClearThisCategory),
                      NumberOp(QX_TestThisCategory), NumberOp(QX_SetThisControl),
                      NumberOp(QX_ClearThisControl), NumberOp(QX_TestThisControl)}) {
    EXPECT_EQ(op(nullptr, 1), QX_ERR_NULL_HANDLE);
    // The handle is checked before the number.
    EXPECT_EQ(op(foreign(), 99), QX_ERR_BAD_HANDLE);
  }
  EXPECT_EQ(std::memcmp(service_->magic, "QXCT", 4), 0);
  EXPECT_EQ(service_->controlCount, 0);
}

TEST_F(TypesTest, CombinationsComputeTheirWordAndClearTheOther) {
  using Combine = int (*)(QxTypes*, QxTypes*, QxTypes*);
  struct Case {
    const char* name;
    Combine op;
    uint32_t aControls, aCategories, bControls, bCategories;
    int result;
    uint32_t outControls, outCategories;
  } cases[] = {
      {"categories meet", QX_CategoryAndCategory, 0x1, 0x0C, 0x1, 0x18, QX_YES, 0, 0x08},
      {"categories apart", QX_CategoryAndCategory, 0x1, 0x04, 0x1, 0x08, QX_NO, 0, 0},
      {"controls meet", QX_ControlAndControl, 0x3, 0x4, 0x6, 0x4, QX_YES, 0x2, 0},
      {"controls apart", QX_ControlAndControl, 0x1, 0x4, 0x2, 0x4, QX_NO, 0, 0},
      {"controls joined", QX_ControlOrControl, 0x2000, 0x4, 0x1, 0x4, QX_YES, 0x2001, 0},
      {"no controls", QX_ControlOrControl, 0, 0x4, 0, 0x4, QX_NO, 0, 0},
  };
  for (const Case& c : cases) {
    a_->controls = c.aControls;
    a_->categories = c.aCategories;
    b_->controls = c.bControls;
    b_->categories = c.bCategories;
    out_->controls = 0xFFFF;
    out_->categories = 0xFFFF;
    EXPECT_EQ(c.op(a_, b_, out_), c.result) << c.name;
    EXPECT_EQ(out_->controls, c.outControls) << c.name;
    EXPECT_EQ(out_->categories, c.outCategories) << c.name;
  }
}

TEST_F(TypesTest, NullOutGivesTheVerdictOnlyForTheAndForms) {
  a_->categories = 0x4;
  b_->categories = 0x4;
  a_->controls = 0x1;
  b_->controls = 0x1;
  EXPECT_EQ(QX_CategoryAndCategory(a_, b_, nullptr), QX_YES);
  EXPECT_EQ(QX_ControlAndControl(a_, b_, nullptr), QX_YES);
  EXPECT_EQ(QX_ControlOrControl(a_, b_, nullptr), QX_ERR_NULL_HANDLE);
  EXPECT_EQ(a_->categories, 0x4u);
  EXPECT_EQ(b_->controls, 0x1u);
}

TEST_F(TypesTest, CombinationsCheckArgumentsLeftToRight) {
  using Combine = int (*)(QxTypes*, QxTypes*, QxTypes*);
  for (Combine op : {Combine(QX_CategoryAndCategory), Combine(QX_ControlAndControl),
                     Combine(QX_ControlOrControl)}) {
    out_->controls = 0x7;
    out_->categories = 0x7;
    EXPECT_EQ(op(nullptr, foreign(), out_), QX_ERR_NULL_HANDLE);
    EXPECT_EQ(op(foreign(), nullptr, out_), QX_ERR_BAD_HANDLE);
    EXPECT_EQ(op(a_, nullptr, foreign()), QX_ERR_NULL_HANDLE);
    EXPECT_EQ(op(a_, b_, foreign()), QX_ERR_BAD_HANDLE);
    EXPECT_EQ(out_->controls, 0x7u);
    EXPECT_EQ(out_->categories, 0x7u);
  }
}

// The URL check accumulates reasons with out equal to first.
TEST_F(TypesTest, OrIntoTheFirstSetAccumulates) {
  a_->controls = 0x2000;  // the query bit, which has no control number
  a_->categories = 0x40;
  b_->controls = 0x8;
  EXPECT_EQ(QX_ControlOrControl(a_, b_, a_), QX_YES);
  EXPECT_EQ(a_->controls, 0x2008u);
  EXPECT_EQ(a_->categories, 0u);
  EXPECT_EQ(QX_TestThisControl(a_, 14), QX_ERR_BAD_CONTROL);
  a_->categories = 0x0C;
  b_->categories = 0x08;
  EXPECT_EQ(QX_CategoryAndCategory(a_, b_, b_), QX_YES);
  EXPECT_EQ(b_->categories, 0x08u);
  EXPECT_EQ(b_->controls, 0u);
}

}  // namespace
