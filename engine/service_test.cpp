// The service record through the C interface: creation, the resolution
// option, handle checks and release of everything the service owns.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "corvane.h"
#include "handles.h"

namespace corvane {
namespace {

TEST(ServiceTest, InitGivesAnEmptyMarkedService) {
  QxService* service = QX_Init();
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(std::memcmp(service->magic, "QXCT", 4), 0);
  EXPECT_EQ(service->controlCount, 0);
  EXPECT_EQ(service->siteCount, 0);
  EXPECT_EQ(service->controlRecords, nullptr);
  EXPECT_EQ(service->siteRecords, nullptr);
  EXPECT_EQ(service->regularRestrictions, nullptr);
  EXPECT_EQ(service->nonBusinessRestrictions, nullptr);
  EXPECT_EQ(service->options, 0u);
  EXPECT_EQ(service->resolveTries, 0);
  EXPECT_EQ(service->newsBackDoorList, nullptr);
  EXPECT_EQ(service->restrictedSearchWordList, nullptr);
  EXPECT_EQ(QX_FreeService(service), QX_OK);
}

TEST(ServiceTest, HandleChecksTellNullFromForeign) {
  QxService* service = QX_Init();
  QxTypes* set = QX_AllocateTypes();
  struct Case {
    const char* what;
    int got;
    int want;
  } cases[] = {
      {"null service", ValidateService(nullptr), QX_ERR_NULL_HANDLE},
      {"live service", ValidateService(service), QX_OK},
      {"set as service", ValidateService(reinterpret_cast<QxService*>(set)), QX_ERR_BAD_HANDLE},
      {"null set", ValidateTypes(nullptr), QX_ERR_NULL_HANDLE},
      {"live set", ValidateTypes(set), QX_OK},
      {"service as set", ValidateTypes(reinterpret_cast<QxTypes*>(service)), QX_ERR_BAD_HANDLE},
      {"free null", QX_FreeService(nullptr), QX_ERR_NULL_HANDLE},
      {"free a set", QX_FreeService(reinterpret_cast<QxService*>(set)), QX_ERR_BAD_HANDLE},
      {"option on null", QX_SetIPOption(nullptr, 3), QX_ERR_NULL_HANDLE},
      {"option on a set", QX_SetIPOption(reinterpret_cast<QxService*>(set), 3), QX_ERR_BAD_HANDLE},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  // The refused calls changed nothing: the set is still a live, empty set.
  EXPECT_EQ(std::memcmp(set->magic, "QXTP", 4), 0);
  EXPECT_EQ(set->controls, 0u);
  EXPECT_EQ(set->categories, 0u);
  EXPECT_EQ(QX_FreeTypes(set), QX_OK);
  EXPECT_EQ(QX_FreeService(service), QX_OK);
}

TEST(ServiceTest, SetIPOptionTurnsResolutionOnWithTriesAsGiven) {
  QxService* service = QX_Init();
  for (int tries : {3, 0, -2}) {
    EXPECT_EQ(QX_SetIPOption(service, tries), QX_OK);
    EXPECT_EQ(service->options & QX_OPTION_RESOLVE_HOSTS, QX_OPTION_RESOLVE_HOSTS);
    EXPECT_EQ(service->resolveTries, tries);
  }
  EXPECT_EQ(service->options, static_cast<uint32_t>(QX_OPTION_RESOLVE_HOSTS));
  QX_FreeService(service);
}

template <typename Entry>
Entry* Chain(int length) {
  Entry* first = nullptr;
  for (int i = 0; i < length; ++i) {
    auto* entry = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
    entry->next = first;
    first = entry;
  }
  return first;
}

// Everything below is released by QX_FreeService; the sanitizer build's
// leak check fails this test if any of it is left behind.
TEST(ServiceTest, FreeServiceReleasesListsSetsAndEveryPolicyEntry) {
  QxService* service = QX_Init();
  service->controlRecords = static_cast<QxListRecord*>(std::calloc(3, sizeof(QxListRecord)));
  service->controlCount = 3;
  service->siteRecords = static_cast<QxListRecord*>(std::calloc(2, sizeof(QxListRecord)));
  service->siteCount = 2;
  service->regularRestrictions = QX_AllocateTypes();
  service->nonBusinessRestrictions = QX_AllocateTypes();
  service->newsBackDoorList = Chain<PolicyEntry>(3);
  service->searchSiteList = Chain<PolicyEntry>(1);
  service->exemptedDomainList = Chain<PolicyEntry>(2);
  service->restrictedSearchWordList = Chain<SearchWordEntry>(4);
  service->restrictedExtensionList = Chain<PolicyEntry>(2);
  EXPECT_EQ(QX_FreeService(service), QX_OK);
}

}  // namespace
}  // namespace corvane
