// Tests of the policy lists: how entries are stored, and the matching rules
// (site patterns, query parameters, search-word splitting).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corvane.h"
#include "policy.h"
#include "policy_testing.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testkit::FailingAllocations;
using testkit::NewService;
using testkit::NewSet;

std::vector<std::string> Names(const PolicyEntry* entry) {
  std::vector<std::string> names;
  for (; entry != nullptr; entry = entry->next) names.push_back(entry->name);
  return names;
}

// The lists of PolicyEntry records, with the operation that fills each.
struct EntryList {
  const char* name;
  int (*add)(QxService*, const char* name, int mode);
  PolicyEntry* QxService::*head;
  bool switched;  // modes 6/7/8 (else 1/2 of the exempted domains)
};

int AddNews(QxService* s, const char* name, int mode) { return QX_Env_NewsBackDoor(s, name, "q=", mode); }
int AddSearch(QxService* s, const char* name, int mode) { return QX_Env_SearchSite(s, name, "q=", mode); }
int AddDomain(QxService* s, const char* name, int mode) { return QX_Env_ExemptedDomain(s, name, mode); }
int AddExtension(QxService* s, const char* name, int mode) {
  return QX_Env_RestrictedExtension(s, name, mode);
}

const EntryList kLists[] = {
    {"news back door", &AddNews, &QxService::newsBackDoorList, true},
    {"search site", &AddSearch, &QxService::searchSiteList, true},
    {"exempted domain", &AddDomain, &QxService::exemptedDomainList, false},
    {"restricted extension", &AddExtension, &QxService::restrictedExtensionList, true},
};

TEST(PolicyListsTest, ModesAreTranslatedOrRefused) {
  struct Case {
    int mode;
    int result;
    int stored;  // the mode of a new entry afterwards
  };
  const Case switched[] = {{6, QX_OK, QX_POLICY_OFF},          {7, QX_OK, QX_POLICY_BUSINESS_HOURS},
                           {8, QX_OK, QX_POLICY_ALWAYS},       {5, QX_ERR_INVALID, QX_POLICY_OFF},
                           {1, QX_ERR_INVALID, QX_POLICY_OFF}, {9, QX_ERR_INVALID, QX_POLICY_OFF},
                           {-8, QX_ERR_INVALID, QX_POLICY_OFF}};
  const Case domain[] = {{1, QX_OK, QX_POLICY_ALWAYS}, {2, QX_OK, QX_POLICY_OFF},
                         {0, QX_ERR_INVALID, QX_POLICY_OFF}, {8, QX_ERR_INVALID, QX_POLICY_OFF}};
  for (const EntryList& list : kLists) {
    SCOPED_TRACE(list.name);
    const Case* begin = list.switched ? std::begin(switched) : std::begin(domain);
    const Case* end = list.switched ? std::end(switched) : std::end(domain);
    for (const Case* c = begin; c != end; ++c) {
      auto service = NewService();
      EXPECT_EQ(c->result, list.add(service.get(), "entry", c->mode)) << "mode " << c->mode;
      const PolicyEntry* entry = service.get()->*list.head;
      ASSERT_NE(nullptr, entry);  // even a refused mode leaves a new entry, switched off
      EXPECT_EQ(c->stored, entry->mode) << "mode " << c->mode;
      EXPECT_STREQ("ENTRY", entry->name);
    }
    // A refused mode leaves an existing entry's mode as it was.
    auto service = NewService();
    const int always = list.switched ? 8 : 1;
    ASSERT_EQ(QX_OK, list.add(service.get(), "kept", always));
    EXPECT_EQ(QX_ERR_INVALID, list.add(service.get(), "KEPT", 4));
    EXPECT_EQ(QX_POLICY_ALWAYS, (service.get()->*list.head)->mode);
  }
}

TEST(PolicyListsTest, NamesAreUniqueNewestFirstAndCut) {
  const std::string longName(200, 'x');
  for (const EntryList& list : kLists) {
    SCOPED_TRACE(list.name);
    auto service = NewService();
    const int on = list.switched ? 8 : 1;
    ASSERT_EQ(QX_OK, list.add(service.get(), "first.example", on));
    ASSERT_EQ(QX_OK, list.add(service.get(), "second.example", on));
    ASSERT_EQ(QX_OK, list.add(service.get(), "FIRST.Example", on));  // updated in place
    ASSERT_EQ(QX_OK, list.add(service.get(), longName.c_str(), on));
    ASSERT_EQ(QX_OK, list.add(service.get(), (longName + "yyy").c_str(), on));  // same over 127
    const std::vector<std::string> expected = {std::string(127, 'X'), "SECOND.EXAMPLE",
                                               "FIRST.EXAMPLE"};
    EXPECT_EQ(expected, Names(service.get()->*list.head));
    const PolicyEntry* newest = service.get()->*list.head;
    EXPECT_EQ('\0', newest->name[QX_POLICY_NAME_SIZE - 1]);
  }
}

TEST(PolicyListsTest, ParametersAreUpperCasedCutAndReplaced) {
  auto service = NewService();
  ASSERT_EQ(QX_OK, QX_Env_NewsBackDoor(service.get(), "news.ab", "group=", 8));
  ASSERT_EQ(QX_OK, QX_Env_NewsBackDoor(service.get(), "NEWS.AB", "abcdefghijklmnopqrst", 7));
  const PolicyEntry* entry = service->newsBackDoorList;
  ASSERT_NE(nullptr, entry);
  EXPECT_EQ(nullptr, entry->next);
  EXPECT_STREQ("NEWS.AB", entry->name);
  EXPECT_STREQ("ABCDEFGHIJKLMNO", entry->parameter);
  EXPECT_EQ(QX_POLICY_BUSINESS_HOURS, entry->mode);
  // A shorter parameter leaves no rest of the longer one behind.
  ASSERT_EQ(QX_OK, QX_Env_NewsBackDoor(service.get(), "news.ab", "g", 8));
  EXPECT_EQ(0, std::memcmp("G\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", entry->parameter, QX_POLICY_PARAM_SIZE));
  // The other lists carry no parameter.
  ASSERT_EQ(QX_OK, QX_Env_RestrictedExtension(service.get(), "exe", 8));
  EXPECT_STREQ("", service->restrictedExtensionList->parameter);
}

TEST(PolicyListsTest, BadArgumentsChangeNothing) {
  auto service = NewService();
  auto set = NewSet({1});
  QxService* wrong = reinterpret_cast<QxService*>(set.get());
  EXPECT_EQ(QX_ERR_NULL_HANDLE, QX_Env_NewsBackDoor(nullptr, "a", "b", 8));
  EXPECT_EQ(QX_ERR_BAD_HANDLE, QX_Env_SearchSite(wrong, "a", "b", 8));
  EXPECT_EQ(QX_ERR_BAD_HANDLE, QX_Env_ExemptedDomain(wrong, "a", 1));
  EXPECT_EQ(QX_ERR_NULL_HANDLE, QX_Env_RestrictedExtension(nullptr, "a", 8));
  EXPECT_EQ(QX_ERR_NULL_HANDLE, QX_Env_RestrictedSearchWord(nullptr, "a", set.get(), 8));
  EXPECT_EQ(QX_ERR_NULL_HANDLE, QX_Env_RestrictedSearchWord(service.get(), "a", nullptr, 8));
  EXPECT_EQ(QX_ERR_BAD_HANDLE,
            QX_Env_RestrictedSearchWord(service.get(), "a", reinterpret_cast<QxTypes*>(service.get()), 8));
  // Missing texts are refused rather than read.
  EXPECT_EQ(QX_ERR_INVALID, QX_Env_NewsBackDoor(service.get(), nullptr, "b", 8));
  EXPECT_EQ(QX_ERR_INVALID, QX_Env_NewsBackDoor(service.get(), "a", nullptr, 8));
  EXPECT_EQ(QX_ERR_INVALID, QX_Env_SearchSite(service.get(), "a", nullptr, 8));
  EXPECT_EQ(QX_ERR_INVALID, QX_Env_ExemptedDomain(service.get(), nullptr, 1));
  EXPECT_EQ(QX_ERR_INVALID, QX_Env_RestrictedExtension(service.get(), nullptr, 8));
  EXPECT_EQ(QX_ERR_INVALID, QX_Env_RestrictedSearchWord(service.get(), nullptr, set.get(), 8));
  EXPECT_EQ(nullptr, service->newsBackDoorList);
  EXPECT_EQ(nullptr, service->searchSiteList);
  EXPECT_EQ(nullptr, service->exemptedDomainList);
  EXPECT_EQ(nullptr, service->restrictedExtensionList);
  EXPECT_EQ(nullptr, service->restrictedSearchWordList);
}

TEST(PolicyListsTest, OutOfMemoryAddsNothingButUpdatesStillWork) {
  auto service = NewService();
  auto set = NewSet({4});
  ASSERT_EQ(QX_OK, QX_Env_SearchSite(service.get(), "search.ab", "q=", 8));
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "dice", set.get(), 0));
  FailingAllocations failing;
  const int newSite = QX_Env_SearchSite(service.get(), "other.ab", "q=", 8);
  const int oldSite = QX_Env_SearchSite(service.get(), "SEARCH.AB", "p=", 6);
  const int newWord = QX_Env_RestrictedSearchWord(service.get(), "cards", set.get(), 0);
  failing.End();
  EXPECT_EQ(QX_ERR_NO_MEMORY, newSite);
  EXPECT_EQ(QX_OK, oldSite);
  EXPECT_EQ(QX_ERR_NO_MEMORY, newWord);
  EXPECT_EQ(std::vector<std::string>{"SEARCH.AB"}, Names(service->searchSiteList));
  EXPECT_STREQ("P=", service->searchSiteList->parameter);
  ASSERT_NE(nullptr, service->restrictedSearchWordList);
  EXPECT_EQ(nullptr, service->restrictedSearchWordList->next);
}

TEST(SearchWordListTest, WordsAreCutCopiedAndMarked) {
  auto service = NewService();
  auto categories = NewSet({4, 7}, {3, 9});
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "Poker", categories.get(), 8));
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "averyveryverylongword", categories.get(), 1));
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "AVERYVERYVERYLOxx", categories.get(), 0));

  const SearchWordEntry* newest = service->restrictedSearchWordList;
  ASSERT_NE(nullptr, newest);
  EXPECT_STREQ("AVERYVERYVERYLO", newest->word);  // the two long words are one entry
  ASSERT_NE(nullptr, newest->next);
  EXPECT_STREQ("POKER", newest->next->word);
  EXPECT_EQ(nullptr, newest->next->next);

  // The entry's set is a valid set of its own: mode 8 gave control 2 only.
  SearchWordEntry* poker = newest->next;
  EXPECT_EQ(QX_YES, QX_TestThisControl(&poker->types, 2));
  EXPECT_EQ(QX_NO, QX_TestThisControl(&poker->types, 3));
  EXPECT_EQ(QX_YES, QX_TestThisCategory(&poker->types, 7));
  EXPECT_EQ(0u, newest->types.controls);
  // Changing the caller's set later does not reach the entry.
  QX_ClearTypes(categories.get());
  EXPECT_EQ(QX_CATEGORY_BIT(4) | QX_CATEGORY_BIT(7), poker->types.categories);
  // An update rewrites the categories and the mark.
  auto dice = NewSet({2});
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "POKER", dice.get(), 3));
  EXPECT_EQ(QX_CATEGORY_BIT(2), poker->types.categories);
  EXPECT_EQ(0u, poker->types.controls);
}

TEST(MatchingTest, SitePatterns) {
  struct Case {
    const char* pattern;
    const char* host;
    bool matches;
  };
  const Case cases[] = {
      {"*.AB", "X.AB", true},        {"*.AB", ".AB", true},         {"*.AB", "AB", false},
      {"*.ab", "X.Y.AB", true},      {"AB*CD", "ABCD", true},       {"AB*CD", "ABXXCD", true},
      {"AB*CD", "ABC", false},       {"AB*CD", "XABCD", false},     {"AB*", "ABANYTHING", true},
      {"AB*", "AB", true},           {"AB*", "A", false},           {"*", "ANY.HOST", true},
      {"*", "", true},               {"NEWS.AB", "news.ab", true},  {"NEWS.AB", "NEWS.ABC", false},
      {"NEWS.AB", "NEWS.A", false},  {"A*B*C", "AXB*C", true},      {"A*B*C", "AXBYC", false},
      {"", "", true},                {"", "X", false},              {"ABC*BCD", "ABCD", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.matches, MatchSitePattern(c.pattern, c.host)) << c.pattern << " / " << c.host;
  }
}

TEST(MatchingTest, QueryParameters) {
  struct Case {
    const char* query;
    const char* name;
    int position;  // -1: not found
  };
  const Case cases[] = {
      {"x=1&q=dogs", "Q=", 4},   {"xq=dogs", "Q=", -1},     {"q=dogs", "q=", 0},
      {"query=dogs", "Q", 0},    {"query=dogs", "Q=", -1},  {"a&b&Q=1&q=2", "q=", 4},
      {"", "", 0},               {"x=1", "", 0},            {"", "Q", -1},
      {"a=1&", "Q", -1},         {"&q=", "Q=", 1},          {"x=1&&q", "Q", 5},
  };
  for (const Case& c : cases) {
    const char* found = FindQueryParameter(c.query, c.name);
    const int position = found == nullptr ? -1 : static_cast<int>(found - c.query);
    EXPECT_EQ(c.position, position) << c.query << " / " << c.name;
  }
}

TEST(MatchingTest, SearchTermsSplitAtAmpersandAndPlus) {
  auto service = NewService();
  auto gambling = NewSet({7});
  auto drugs = NewSet({2});
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "red", gambling.get(), 0));
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "lang=en", gambling.get(), 8));
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "pills", drugs.get(), 8));
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "", gambling.get(), 0));
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "fifteenletters1", gambling.get(), 8));

  const std::string longWord(300, 'r');
  struct Case {
    std::string terms;
    std::vector<int> denied;
    bool matches;
    std::uint32_t reasonControls;  // added to a reason set that held control 9
  };
  const Case cases[] = {
      {"red+dog&lang=en", {7}, true, QX_CONTROL_BIT(9) | QX_CONTROL_BIT(2)},
      {"RED", {7}, true, QX_CONTROL_BIT(9)},
      {"reddish+dog", {7}, false, QX_CONTROL_BIT(9)},
      {"re", {7}, false, QX_CONTROL_BIT(9)},
      {"red", {2}, false, QX_CONTROL_BIT(9)},  // the word's category is not denied
      {"pills", {2, 7}, true, QX_CONTROL_BIT(9) | QX_CONTROL_BIT(2)},
      {"dog++cat", {7}, true, QX_CONTROL_BIT(9)},  // the empty word between two "+"
      {"dog+cat", {7}, false, QX_CONTROL_BIT(9)},
      {"red%20dog", {7}, false, QX_CONTROL_BIT(9)},  // no percent-decoding
      {longWord, {7}, false, QX_CONTROL_BIT(9)},
      {longWord + "+red", {7}, true, QX_CONTROL_BIT(9)},
      {longWord + "&" + longWord + "&pills", {2}, true,
       QX_CONTROL_BIT(9) | QX_CONTROL_BIT(2)},
      {"fifteenletters1", {7}, true, QX_CONTROL_BIT(9) | QX_CONTROL_BIT(2)},
      {"fifteenletters12", {7}, false, QX_CONTROL_BIT(9)},
  };
  for (const Case& c : cases) {
    auto denied = NewSet();
    for (int category : c.denied) QX_SetThisCategory(denied.get(), category);
    auto reason = NewSet({5}, {9});
    EXPECT_EQ(c.matches, MatchSearchTerms(service.get(), c.terms.c_str(), denied.get(), reason.get()))
        << c.terms.substr(0, 40);
    EXPECT_EQ(c.reasonControls, reason->controls) << c.terms.substr(0, 40);
    EXPECT_EQ(c.matches ? 0u : QX_CATEGORY_BIT(5), reason->categories) << c.terms.substr(0, 40);
  }
}

TEST(MatchingTest, ExtensionOfASegment) {
  struct Case {
    const char* segment;
    const char* extension;  // null: none
  };
  const Case cases[] = {{"SETUP.EXE", "EXE"}, {".EXE", nullptr},   {"ARCHIVE.TAR.GZ", "GZ"},
                        {"README", nullptr},  {"FILE.", ""},        {"", nullptr},
                        {"..", "" }};
  for (const Case& c : cases) {
    const char* extension = SegmentExtension(c.segment);
    if (c.extension == nullptr) {
      EXPECT_EQ(nullptr, extension) << c.segment;
    } else {
      ASSERT_NE(nullptr, extension) << c.segment;
      EXPECT_STREQ(c.extension, extension) << c.segment;
    }
  }
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// Run under LeakSanitizer or valgrind, this shows that releasing the service
// releases everything the policy side allocated for it.
TEST(PolicyListsTest, ReleasingAFullServiceLeavesNothingBehind) {
  testkit::TempDir dir;
  const std::string list = dir.WriteList(
      "list.lst", {testkit::UrlRecord("http://a.example.com/", QX_CATEGORY_BIT(1)),
                   testkit::UrlRecord("http://b.example.com/", QX_CATEGORY_BIT(2))});
  QxService* service = QX_Init();
  ASSERT_NE(nullptr, service);
  ASSERT_EQ(QX_OK, QX_LoadControlList(service, nullptr, list.c_str()));
  ASSERT_EQ(QX_OK, QX_LoadSiteList(service, list.c_str()));
  auto set = NewSet({3, 4}, {1, 5});
  for (int i = 0; i < 5; ++i) {
    const std::string name = "entry" + std::to_string(i);
    ASSERT_EQ(QX_OK, QX_UpdateSiteList(service, ("http://" + name + ".org/").c_str(), set.get()));
    ASSERT_EQ(QX_OK, QX_Env_NewsBackDoor(service, name.c_str(), "g=", 8));
    ASSERT_EQ(QX_OK, QX_Env_SearchSite(service, name.c_str(), "q=", 7));
    ASSERT_EQ(QX_OK, QX_Env_ExemptedDomain(service, name.c_str(), 1));
    ASSERT_EQ(QX_OK, QX_Env_RestrictedExtension(service, name.c_str(), 8));
    ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service, name.c_str(), set.get(), 8));
  }
  ASSERT_EQ(QX_OK, QX_Env_RegularRestrictions(service, set.get(), 1));
  ASSERT_EQ(QX_OK, QX_Env_NonBusinessRestrictions(service, set.get(), 1));
  unsigned char hours[QX_HOURS_SIZE] = {1};
  ASSERT_EQ(QX_OK, QX_Env_BusinessHours(service, hours));
  EXPECT_EQ(QX_OK, QX_FreeService(service));
}

}  // namespace
}  // namespace corvane
