/* A caller written in plain C that sees only corvane.h and the shared
 * library: it proves the header compiles as C, that the library exports
 * what the header declares, and that records read back through the
 * declared layouts hold what the engine wrote. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "corvane.h"

static int passed;
static int failed;

#define CHECK(cond)                                               \
  do {                                                            \
    if (cond) {                                                   \
      ++passed;                                                   \
    } else {                                                      \
      ++failed;                                                   \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                             \
  } while (0)

static void check_layouts(void) {
  CHECK(sizeof(QxListRecord) == 24);
  CHECK(offsetof(QxListRecord, categories) == 4);
  CHECK(offsetof(QxListRecord, digest) == 8);
  CHECK(sizeof(QxTypes) == 12);
  CHECK(offsetof(QxTypes, categories) == 8);
  CHECK(offsetof(QxUrl, matchedLevel) == 8);
  CHECK(offsetof(QxUrl, host) == 36);
  CHECK(offsetof(QxUrl, segments) == 36 + QX_HOST_SIZE);
}

static void check_sets(void) {
  QxTypes* set = QX_AllocateTypes();
  QxService* service = QX_Init();
  CHECK(set != NULL && memcmp(set->magic, "QXTP", 4) == 0);
  CHECK(QX_SetThisCategory(set, 27) == QX_OK && set->categories == 0x10000000u);
  CHECK(QX_SetThisCategory(set, 28) == QX_ERR_BAD_CATEGORY);
  CHECK(QX_SetThisControl(set, 16) == QX_OK && set->controls == 0x8000u);
  CHECK(QX_TestThisControl(set, 14) == QX_ERR_BAD_CONTROL);
  CHECK(QX_CategoryAndCategory(set, set, NULL) == QX_YES);
  CHECK(QX_ControlOrControl(set, set, NULL) == QX_ERR_NULL_HANDLE);
  CHECK(QX_ClearTypes((QxTypes*)service) == QX_ERR_BAD_HANDLE);
  CHECK(QX_FreeTypes(set) == QX_OK);
  CHECK(QX_FreeService(service) == QX_OK);
}

static void check_parser(void) {
  QxUrl url;
  memset(&url, 0, sizeof url);
  CHECK(qxprsurl(&url, "ftp://Aa.Bb:8080/a/b.txt?x=1") == 1);
  CHECK(strcmp(url.host, "AA.BB") == 0);
  CHECK(url.segmentCount == 2 && strcmp(url.segments[1], "B.TXT") == 0);
  CHECK(url.flags == QX_URL_QUERY);
  memset(&url, 0, sizeof url);
  CHECK(qxprsurl(&url, "plain text") == 0);
  {
    const char* hello = "Hello World";
    CHECK(stristr(hello, "WORLD") == hello + 6);
    CHECK(stristr(hello, "moon") == NULL);
  }
}

static void check_service(const char* empty_list_path) {
  QxService* service = QX_Init();
  QxTypes* result = QX_AllocateTypes();
  QxTypes* request = QX_AllocateTypes();
  QxTypes* restriction = QX_AllocateTypes();
  QxTypes* reason = QX_AllocateTypes();
  char key[QX_KEY_TEXT_SIZE];
  FILE* file;
  const int zero = 0;

  CHECK(service != NULL && memcmp(service->magic, "QXCT", 4) == 0);
  CHECK(service->controlCount == 0 && service->siteRecords == NULL);
  CHECK(QX_CategorizeUrl(service, "http://a.example.com/", result, NULL, 0) == QX_UNCATEGORIZED);

  file = fopen(empty_list_path, "wb");
  CHECK(file != NULL);
  if (file != NULL) {
    fwrite(&zero, sizeof zero, 1, file);
    fclose(file);
  }
  CHECK(QX_LoadControlList(service, NULL, empty_list_path) == QX_OK);
  CHECK(service->controlCount == 0);

  /* The site list update adds a record that categorisation then finds. */
  QX_SetThisCategory(request, 7);
  QX_SetThisControl(request, 10);
  CHECK(QX_UpdateSiteList(service, "http://shop.example.com/cart", request) == QX_OK);
  CHECK(service->siteCount == 1);
  CHECK(service->siteRecords != NULL && service->siteRecords[0].categories == 0x100u &&
        service->siteRecords[0].kind == 1);
  CHECK(QX_CategorizeUrl(service, "http://shop.example.com/cart/item?id=1", result, key,
                         QX_KEY_TEXT_SIZE - 1) == QX_CATEGORIZED);
  CHECK(strcmp(key, "SHOP.EXAMPLE.COM/CART") == 0);
  CHECK(result->categories == 0x100u && result->controls == (0x100u | QX_CONTROL_QUERY));
  CHECK(QX_CategorizeUrl(service, "http://shop.example.com/cart", result, key, 4) ==
        QX_CATEGORIZED_TRUNCATED);
  CHECK(memcmp(key, "SHOP", 4) == 0);

  /* A host below the updated one: found only with the parent-domain option. */
  CHECK(QX_CategorizeUrl(service, "http://www.shop.example.com/cart", result, key,
                         QX_KEY_TEXT_SIZE - 1) == QX_UNCATEGORIZED);
  CHECK(QX_SetParentDomainOption(NULL, 1) == QX_ERR_NULL_HANDLE);
  CHECK(QX_SetParentDomainOption(service, 1) == QX_OK);
  CHECK(QX_CategorizeUrl(service, "http://www.shop.example.com/cart", result, key,
                         QX_KEY_TEXT_SIZE - 1) == QX_CATEGORIZED);
  CHECK(strcmp(key, "SHOP.EXAMPLE.COM/CART") == 0);
  CHECK(QX_SetParentDomainOption(service, 0) == QX_OK);

  /* The URL check denies the category. */
  QX_SetThisCategory(restriction, 7);
  CHECK(QX_Env_UrlCheck(service, "http://shop.example.com/cart", NULL, restriction, result,
                        reason) == QX_RESTRICTED);
  CHECK(reason->categories == 0x100u && reason->controls == 0);

  /* Policy lists are read through their declared layouts. */
  CHECK(QX_Env_NewsBackDoor(service, "news.example.com", "group", 8) == QX_OK);
  CHECK(service->newsBackDoorList != NULL &&
        strcmp(service->newsBackDoorList->name, "NEWS.EXAMPLE.COM") == 0 &&
        strcmp(service->newsBackDoorList->parameter, "GROUP") == 0 &&
        service->newsBackDoorList->mode == QX_POLICY_ALWAYS);
  CHECK(QX_Env_RestrictedSearchWord(service, "dice", restriction, 8) == QX_OK);
  CHECK(service->restrictedSearchWordList != NULL &&
        strcmp(service->restrictedSearchWordList->word, "DICE") == 0 &&
        service->restrictedSearchWordList->types.controls == 0x2u);

  QX_FreeTypes(result);
  QX_FreeTypes(request);
  QX_FreeTypes(restriction);
  QX_FreeTypes(reason);
  CHECK(QX_FreeService(service) == QX_OK);
  CHECK(QX_FreeService(NULL) == QX_ERR_NULL_HANDLE);
  remove(empty_list_path);
}

/* The header's names, compiled as C: every result code has its own name,
 * spelled as its macro; the bit macros give the bits the set operations
 * set; the magic initializers hold the bytes a new record carries. */
static void check_names(void) {
#define NAMED(code) { code, #code }
  static const struct {
    int code;
    const char* name;
  } codes[] = {
      NAMED(QX_OK),               NAMED(QX_RESTRICTED),      NAMED(QX_YES),
      NAMED(QX_NO),               NAMED(QX_CATEGORIZED),     NAMED(QX_CATEGORIZED_TRUNCATED),
      NAMED(QX_UNCATEGORIZED),    NAMED(QX_UNRESTRICTED),    NAMED(QX_ERR_READ_HEADER),
      NAMED(QX_ERR_READ_RECORD),  NAMED(QX_ERR_OPEN),        NAMED(QX_ERR_BAD_HANDLE),
      NAMED(QX_ERR_NULL_HANDLE),  NAMED(QX_ERR_BAD_CATEGORY), NAMED(QX_ERR_BAD_CONTROL),
      NAMED(QX_ERR_NO_MEMORY),    NAMED(QX_ERR_INVALID),     NAMED(QX_ERR_BAD_URL),
      NAMED(QX_ERR_RESOLVE),
  };
#undef NAMED
  static const int unknown[] = {-1, 2, 9, 16, 1000, 1011, 1015};
  const char types_magic[4] = QX_TYPES_MAGIC;
  const char service_magic[4] = QX_SERVICE_MAGIC;
  QxTypes* set = QX_AllocateTypes();
  QxService* service = QX_Init();
  size_t i;
  int n;

  for (i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
    CHECK(strcmp(QX_ResultName(codes[i].code), codes[i].name) == 0);
  }
  for (i = 0; i < sizeof unknown / sizeof unknown[0]; ++i) {
    CHECK(strcmp(QX_ResultName(unknown[i]), "unknown result") == 0);
  }

  CHECK(set != NULL && service != NULL);
  if (set == NULL || service == NULL) {
    QX_FreeTypes(set);
    QX_FreeService(service);
    return;
  }
  CHECK(memcmp(set->magic, types_magic, 4) == 0);
  CHECK(memcmp(service->magic, service_magic, 4) == 0);
  for (n = 1; n <= QX_CATEGORY_COUNT; ++n) {
    QX_ClearTypes(set);
    CHECK(QX_SetThisCategory(set, n) == QX_OK && set->categories == QX_CATEGORY_BIT(n));
    CHECK((QX_ALL_CATEGORIES & QX_CATEGORY_BIT(n)) != 0);
  }
  /* Every control number the set operations take is a bit of
   * QX_ALL_CONTROLS, and every other number in 1..16 is refused. */
  for (n = 1; n <= 16; ++n) {
    QX_ClearTypes(set);
    if ((QX_ALL_CONTROLS & QX_CONTROL_BIT(n)) != 0) {
      CHECK(QX_SetThisControl(set, n) == QX_OK && set->controls == QX_CONTROL_BIT(n));
    } else {
      CHECK(QX_SetThisControl(set, n) == QX_ERR_BAD_CONTROL && set->controls == 0);
    }
  }
  CHECK(QX_CONTROL_QUERY == QX_CONTROL_BIT(14));
  QX_FreeTypes(set);
  QX_FreeService(service);
}

int main(int argc, char** argv) {
  check_layouts();
  check_sets();
  check_parser();
  check_names();
  check_service(argc > 1 ? argv[1] : "c_caller_test_empty.lst");
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
