// fuzz_list_load.cpp -- the list loaders on any file bytes, then a lookup and
// site list updates on what they loaded.
//
// Input: the whole input is the list file. A load that succeeds leaves its
// array in record order; the unfiltered control list (mapped from the file)
// holds exactly the records the site list (read into an array) holds; the filtered load gives the same answer as the
// unfiltered one and keeps exactly the records that share a category with
// the filter; a failed load leaves the list empty; updates keep the site
// list in order.
#include <cstdint>
#include <cstring>
#include <string>

#include "corvane.h"
#include "fuzz_support.h"

namespace {

bool InOrder(const QxListRecord* records, int32_t count) {
  for (int32_t i = 1; i < count; ++i) {
    if (std::memcmp(records[i - 1].digest, records[i].digest, sizeof records[i].digest) >= 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::TempPath("input.lst");
  fuzz::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));

  QxService* service = QX_Init();
  QxTypes* filter = QX_AllocateTypes();
  QxTypes* result = QX_AllocateTypes();
  FUZZ_CHECK(service && filter && result);
  // The filter's categories come from the file's last byte, so that the
  // fuzzer can steer them.
  const int category = size > 0 ? 1 + data[size - 1] % QX_CATEGORY_COUNT : 1;
  QX_SetThisCategory(filter, category);
  QX_SetThisCategory(filter, 1 + (category + 6) % QX_CATEGORY_COUNT);

  const int all = QX_LoadControlList(service, nullptr, path.c_str());
  const int32_t allCount = service->controlCount;
  if (all == QX_OK) {
    FUZZ_CHECK(InOrder(service->controlRecords, service->controlCount));
  } else {
    FUZZ_CHECK(service->controlCount == 0);
  }
  const int filtered = QX_LoadControlList(service, filter, path.c_str());
  FUZZ_CHECK(filtered == all);
  if (filtered == QX_OK) {
    FUZZ_CHECK(InOrder(service->controlRecords, service->controlCount));
    FUZZ_CHECK(service->controlCount <= allCount);
    for (int32_t i = 0; i < service->controlCount; ++i) {
      FUZZ_CHECK((service->controlRecords[i].categories & filter->categories) != 0);
    }
  }

  const int site = QX_LoadSiteList(service, path.c_str());
  FUZZ_CHECK(site == all);
  if (site != QX_OK) FUZZ_CHECK(service->siteCount == 0);
  FUZZ_CHECK(QX_LoadControlList(service, nullptr, path.c_str()) == all);
  FUZZ_CHECK(service->controlCount == service->siteCount);
  FUZZ_CHECK(service->controlCount == 0 ||
             std::memcmp(service->controlRecords, service->siteRecords,
                         sizeof(QxListRecord) * static_cast<size_t>(service->controlCount)) == 0);

  char key[QX_KEY_TEXT_SIZE];
  const char* const urls[] = {"http://both.example/", "http://www.news.example/sports/x?y=1",
                              "http://192.168.1.7/a", "news:alt.test"};
  for (const char* url : urls) {
    const int rc = QX_CategorizeUrl(service, url, result, key, QX_KEY_TEXT_SIZE - 1);
    FUZZ_CHECK(rc == QX_CATEGORIZED || rc == QX_UNCATEGORIZED || rc == QX_ERR_BAD_URL);
  }

  // Updates: added, replaced, approved.
  QX_ClearTypes(result);
  QX_SetThisCategory(result, category);
  FUZZ_CHECK(QX_UpdateSiteList(service, "http://new.example/a/b", result) == QX_OK);
  QX_SetThisControl(result, QX_CONTROL_APPROVED);
  FUZZ_CHECK(QX_UpdateSiteList(service, "http://both.example/", result) == QX_OK);
  FUZZ_CHECK(QX_UpdateSiteList(service, "http://new.example/a/b", result) == QX_OK);
  FUZZ_CHECK(InOrder(service->siteRecords, service->siteCount));
  FUZZ_CHECK(service->siteCount >= 2);

  QX_FreeTypes(result);
  QX_FreeTypes(filter);
  QX_FreeService(service);
  return 0;
}
