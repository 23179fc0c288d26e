// fuzz_url_check.cpp -- the complete URL check with fuzzed policy entries,
// restriction sets, business hours and URL.
//
// Input: byte 0 is the number of policy operations (0 to 15); each takes an
// operation byte, a mode byte and its texts as lines; then come the URL and
// the query (a line; an absent query line passes null). The engine never
// resolves host names here.
#include <cstdint>
#include <cstring>
#include <string>

#include "corvane.h"
#include "fuzz_support.h"

namespace {

struct Fixture {
  QxService* service = QX_Init();
  Fixture() {
    const std::string path = fuzz::TempPath("control.lst");
    fuzz::WriteFile(path, fuzz::ListBytes(fuzz::StandardEntries()));
    FUZZ_CHECK(service != nullptr);
    FUZZ_CHECK(QX_LoadControlList(service, nullptr, path.c_str()) == QX_OK);
  }
};

// A set from two bytes: a category and a control number.
void FillSet(QxTypes* set, fuzz::Reader* in) {
  QX_ClearTypes(set);
  // Numbers one past each end too: category 0 and 28, control 0, 14, 15 and
  // 17 are refused.
  QX_SetThisCategory(set, in->Byte() % (QX_CATEGORY_COUNT + 2));
  QX_SetThisControl(set, in->Byte() % (QX_CONTROL_FILE_EXTENSION + 2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  // The policy lists grow with every input: a fresh service each time keeps
  // runs independent; the control list comes from the shared one's file.
  QxService* service = QX_Init();
  FUZZ_CHECK(service != nullptr);
  FUZZ_CHECK(QX_LoadControlList(service, nullptr, fuzz::TempPath("control.lst").c_str()) == QX_OK);
  QxTypes* set = QX_AllocateTypes();
  QxTypes* restriction = QX_AllocateTypes();
  QxTypes* urlResult = QX_AllocateTypes();
  QxTypes* reason = QX_AllocateTypes();
  FUZZ_CHECK(set && restriction && urlResult && reason);

  fuzz::Reader in(data, size);
  const int operations = in.Byte() % 16;
  for (int i = 0; i < operations; ++i) {
    const int op = in.Byte() % 8;
    const int mode = in.Byte() % 10;
    switch (op) {
      case 0: {
        const std::string site = in.Line(), parameter = in.Line();
        QX_Env_NewsBackDoor(service, site.c_str(), parameter.c_str(), mode);
        break;
      }
      case 1: {
        const std::string site = in.Line(), parameter = in.Line();
        QX_Env_SearchSite(service, site.c_str(), parameter.c_str(), mode);
        break;
      }
      case 2:
        QX_Env_ExemptedDomain(service, in.Line().c_str(), mode);
        break;
      case 3: {
        const std::string word = in.Line();
        FillSet(set, &in);
        QX_Env_RestrictedSearchWord(service, word.c_str(), set, mode);
        break;
      }
      case 4:
        QX_Env_RestrictedExtension(service, in.Line().c_str(), mode);
        break;
      case 5:
        FillSet(set, &in);
        QX_Env_RegularRestrictions(service, set, mode % 3);
        break;
      case 6:
        FillSet(set, &in);
        QX_Env_NonBusinessRestrictions(service, set, mode % 3);
        break;
      case 7: {
        unsigned char hours[QX_HOURS_SIZE];
        for (unsigned char& h : hours) h = in.Byte() & 1;
        QX_Env_BusinessHours(service, mode == 0 ? nullptr : hours);
        break;
      }
    }
  }
  const uint8_t choice = in.Byte();
  FillSet(restriction, &in);
  const std::string url = in.Line();
  const bool hasQuery = !in.empty();
  const std::string query = in.Line();

  const int rc = QX_Env_UrlCheck(service, url.c_str(), hasQuery ? query.c_str() : nullptr,
                                 (choice & 1) ? restriction : nullptr, urlResult, reason);
  FUZZ_CHECK(rc == QX_RESTRICTED || rc == QX_UNRESTRICTED || rc == 0);
  FUZZ_CHECK((urlResult->categories & ~QX_ALL_CATEGORIES) == 0);
  if (rc != QX_RESTRICTED) FUZZ_CHECK(reason->categories == 0 && reason->controls == 0);

  QX_FreeTypes(set);
  QX_FreeTypes(restriction);
  QX_FreeTypes(urlResult);
  QX_FreeTypes(reason);
  QX_FreeService(service);
  (void)fixture;
  return 0;
}
