/*
 * corvane.h -- the public interface of Corvane, the URL categorisation and
 * policy engine.
 *
 * Corvane is a library of plain C functions. All state that lasts from one
 * call to the next lives in a service record (QxService), made by QX_Init and
 * released by QX_FreeService. The second handle type is the category and
 * control set (QxTypes). Every operation that takes a handle first checks its
 * four-byte magic: a null handle yields QX_ERR_NULL_HANDLE (1005), a handle
 * with the wrong magic QX_ERR_BAD_HANDLE (1004). Arguments are checked from
 * left to right and the code of the first failure is returned before anything
 * is written. Nothing is ever thrown across this interface.
 *
 * Texts are 8-bit and NUL-terminated. Texts that the engine keeps for
 * matching are upper-cased on entry (ASCII letters only); over-long texts are
 * cut to their fields rather than refused.
 *
 * Records are plain structures in the field order given here. A C caller can
 * use the library from this header alone.
 *
 * Threads: the engine creates no threads and takes no locks.
 *  - QX_CategorizeUrl, qxtsturl, qxprsurl, stristr and QX_Env_UrlCheck only
 *    read the service; any number of them may run at once on one service, as
 *    long as each thread passes its own result and reason sets.
 *  - The set operations touch only the sets they are given; a set shared
 *    between threads must be guarded by its owner.
 *  - Everything that changes the service (QX_LoadSiteList,
 *    QX_LoadControlList, QX_SetIPOption, QX_SetParentDomainOption,
 *    QX_UpdateSiteList, QX_Env_* other
 *    than QX_Env_UrlCheck, QX_FreeService) must not overlap any other call on
 *    the same service.
 *
 * Name resolution (QX_SetIPOption) uses the host process's sockets library;
 * on Windows the caller must have started Windows Sockets.
 */
#ifndef PELLUMIN_ENGINE_CORVANE_H_
#define PELLUMIN_ENGINE_CORVANE_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Functions use the C calling convention (cdecl on 32-bit Windows) and are
 * exported by their plain names. */
#if defined(_WIN32)
#define QX_CALL __cdecl
#else
#define QX_CALL
#endif

/* ------------------------------------------------------------------------
 * Result codes
 * ------------------------------------------------------------------------ */

#define QX_OK 0                     /* success */
#define QX_RESTRICTED 1             /* URL check: a restriction step applies */
#define QX_YES 10                   /* the bit is set / the combination is not empty */
#define QX_NO 11                    /* the bit is clear / the combination is empty */
#define QX_CATEGORIZED 12           /* found; key text copied whole (or not asked for) */
#define QX_CATEGORIZED_TRUNCATED 13 /* found; key text cut to the caller's limit */
#define QX_UNCATEGORIZED 14         /* in neither list */
#define QX_UNRESTRICTED 15          /* URL check: no restriction step applies */
#define QX_ERR_READ_HEADER 1001     /* a list file's record count could not be read */
#define QX_ERR_READ_RECORD 1002     /* a list file's record could not be read */
#define QX_ERR_OPEN 1003            /* a list file could not be opened */
#define QX_ERR_BAD_HANDLE 1004      /* a handle does not carry the expected magic */
#define QX_ERR_NULL_HANDLE 1005     /* a required handle is null */
#define QX_ERR_BAD_CATEGORY 1006    /* category number outside 1..27 */
#define QX_ERR_BAD_CONTROL 1007     /* control number outside 1..13 and 16 */
#define QX_ERR_NO_MEMORY 1008       /* memory is exhausted */
#define QX_ERR_INVALID 1009         /* bad argument, or list records out of order */
#define QX_ERR_BAD_URL 1010         /* the URL could not be parsed */
#define QX_ERR_RESOLVE 1014         /* the host name could not be resolved */

/* Functions defined in this header are static inline: they add no symbol to
 * the library or to the caller's objects. */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define QX_INLINE inline
#elif defined(_MSC_VER)
#define QX_INLINE __inline
#else
#define QX_INLINE
#endif

/* The name of a result code as written above ("QX_CATEGORIZED"), or
 * "unknown result" for any other number. */
static QX_INLINE const char* QX_ResultName(int code) {
  switch (code) {
    case QX_OK: return "QX_OK";
    case QX_RESTRICTED: return "QX_RESTRICTED";
    case QX_YES: return "QX_YES";
    case QX_NO: return "QX_NO";
    case QX_CATEGORIZED: return "QX_CATEGORIZED";
    case QX_CATEGORIZED_TRUNCATED: return "QX_CATEGORIZED_TRUNCATED";
    case QX_UNCATEGORIZED: return "QX_UNCATEGORIZED";
    case QX_UNRESTRICTED: return "QX_UNRESTRICTED";
    case QX_ERR_READ_HEADER: return "QX_ERR_READ_HEADER";
    case QX_ERR_READ_RECORD: return "QX_ERR_READ_RECORD";
    case QX_ERR_OPEN: return "QX_ERR_OPEN";
    case QX_ERR_BAD_HANDLE: return "QX_ERR_BAD_HANDLE";
    case QX_ERR_NULL_HANDLE: return "QX_ERR_NULL_HANDLE";
    case QX_ERR_BAD_CATEGORY: return "QX_ERR_BAD_CATEGORY";
    case QX_ERR_BAD_CONTROL: return "QX_ERR_BAD_CONTROL";
    case QX_ERR_NO_MEMORY: return "QX_ERR_NO_MEMORY";
    case QX_ERR_INVALID: return "QX_ERR_INVALID";
    case QX_ERR_BAD_URL: return "QX_ERR_BAD_URL";
    case QX_ERR_RESOLVE: return "QX_ERR_RESOLVE";
    default: return "unknown result";
  }
}

/* ------------------------------------------------------------------------
 * Sizes and bits
 * ------------------------------------------------------------------------ */

/* Categories are numbered 1 to 27. Category n is bit n + 1 of a category
 * word, QX_CATEGORY_BIT(n) = 4 << (n - 1); bits 0 and 1 and 29 to 31 belong
 * to no category. QX_CATEGORY_BIT is for n from 1 to 27, QX_CONTROL_BIT
 * (below) for n from 1 to 16. */
#define QX_CATEGORY_COUNT 27
#define QX_CATEGORY_BIT(n) (4u << ((n) - 1))
#define QX_ALL_CATEGORIES 0x1FFFFFFCu /* category n is bit n+1 (value 4 << (n-1)) */

/* Controls are numbered 1 to 16; control n is bit n - 1 of a control word.
 * QX_SetThisControl and its kin take 1 to 13 and 16. */
#define QX_CONTROL_BIT(n) (1u << ((n) - 1))
#define QX_ALL_CONTROLS 0x9FFFu       /* control n is bit n-1; valid n: 1..13, 16 */
#define QX_CONTROL_QUERY 0x2000u      /* set by categorisation; has no control number */

/* Control numbers. A control means something different in each kind of
 * set: in a restriction set it is a policy switch, in a URL result it
 * describes the URL, in a reason set it says why the URL check restricted,
 * and in a QX_UpdateSiteList request it says how the record is stored.
 * Controls 7 and 13 are valid numbers that the engine gives no meaning.
 * Bit 13 (where control 14 would be) is QX_CONTROL_QUERY, which only
 * categorisation sets and which, unlike the names below, is a bit value;
 * bit 14 means nothing. */
#define QX_CONTROL_APPROVED 1         /* result: the site-list record is approved;
                                         restriction: only approved URLs pass;
                                         update request: approve the URL */
#define QX_CONTROL_WORD_MARKED 2      /* search word entered with mode 8 (in the
                                         word's set and in a reason) */
#define QX_CONTROL_NUMERIC_HOST 3     /* result: the host is a numeric address;
                                         restriction and reason: deny those */
#define QX_CONTROL_PERSONAL_PAGE 4    /* result: a segment begins with "~";
                                         restriction and reason: deny those */
#define QX_CONTROL_NEWS_BACK_DOOR 5   /* restriction and reason: news back door */
#define QX_CONTROL_NOT_APPROVED 6     /* reason: not approved (approved only) */
#define QX_CONTROL_SEARCH_WORD 8      /* restriction and reason: search words */
#define QX_CONTROL_SITE_LIST 9        /* result: found in the site list */
#define QX_CONTROL_KIND_1 10          /* update request: the record's kind is 1 */
#define QX_CONTROL_KIND_3 11          /* update request: kind 3 (before 10, 12) */
#define QX_CONTROL_KIND_2 12          /* update request: kind 2 (before 10) */
#define QX_CONTROL_FILE_EXTENSION 16  /* restriction and reason: file extensions */

#define QX_HOST_SIZE 256          /* host: 255 characters and a NUL */
#define QX_SEGMENT_SIZE 128       /* one path segment: 127 characters and a NUL */
#define QX_MAX_SEGMENTS 20
#define QX_KEY_TEXT_SIZE 1024     /* key text: 1023 characters and a NUL */
#define QX_POLICY_NAME_SIZE 128   /* PolicyEntry.name */
#define QX_POLICY_PARAM_SIZE 16   /* PolicyEntry.parameter */
#define QX_SEARCH_WORD_SIZE 16    /* SearchWordEntry.word */
#define QX_HOURS_SIZE (7 * 24)    /* businessHours: byte weekday * 24 + hour, 0 = Sunday */

/* QxUrl.flags */
#define QX_URL_PERSONAL 0x01 /* a path segment begins with "~" */
#define QX_URL_NUMERIC 0x02  /* the host is digits and dots only */
#define QX_URL_QUERY 0x08    /* the path carried a "?" */

/* QxService.options */
#define QX_OPTION_HOURS_ENABLED 0x2 /* the business-hours table is consulted */
#define QX_OPTION_RESOLVE_HOSTS 0x4 /* host names are resolved before lookup */

/* PolicyEntry.mode as stored */
#define QX_POLICY_OFF 0
#define QX_POLICY_ALWAYS 1
#define QX_POLICY_BUSINESS_HOURS 2

/* The mode argument as given to the calls that change a restriction set or
 * a policy list entry (the engine stores the QX_POLICY_* modes above). */
#define QX_MODE_ADD 1            /* restriction set: add the bits; exempted domain: on */
#define QX_MODE_REMOVE 2         /* restriction set: remove the bits; exempted domain: off */
#define QX_MODE_OFF 6            /* news back door, search site, extension: off */
#define QX_MODE_BUSINESS_HOURS 7 /* the same: in force during business hours */
#define QX_MODE_ALWAYS 8         /* the same: always in force; a search word: marked
                                    with control QX_CONTROL_WORD_MARKED */

/* ------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------ */

/* The four bytes that begin a live service and a live set, as initializers
 * (the records hold no terminator): "QxTypes set = {QX_TYPES_MAGIC, 0, 0};"
 * or "const char magic[4] = QX_SERVICE_MAGIC;". */
#define QX_SERVICE_MAGIC { 'Q', 'X', 'C', 'T' }
#define QX_TYPES_MAGIC { 'Q', 'X', 'T', 'P' }

/* A category and control set. magic is "QXTP" (no terminator). */
typedef struct QxTypes {
  char magic[4];
  uint32_t controls;
  uint32_t categories;
} QxTypes;

/* One record of a list file, 24 bytes, the same in the file and in memory
 * (little-endian). Lists are strictly ascending by digest, compared as
 * unsigned bytes from the first. */
typedef struct QxListRecord {
  uint8_t kind;       /* an ordinal copied to the URL on a match */
  uint8_t markFlags;  /* bit 0: the approved mark */
  uint8_t reserved[2];
  uint32_t categories;
  uint8_t digest[16]; /* MD4 of the record's key string */
} QxListRecord;

/* A parsed URL. The caller owns it and passes it zero-filled to qxprsurl. */
typedef struct QxUrl {
  uint8_t kind;          /* kind of the matched record */
  uint8_t flags;         /* QX_URL_* bits */
  int16_t tildeIndex;    /* last segment that begins with "~" (flag 0x01) */
  int16_t segmentCount;  /* 0 to 20 */
  int32_t matchedLevel;  /* number of segments in the matching path key */
  uint32_t categories;   /* category word of the matched record */
  uint32_t markFlags;    /* bit 0: the matched record carries the approved mark */
  uint8_t digest[16];    /* MD4 of the key built last */
  char host[QX_HOST_SIZE];
  char segments[QX_MAX_SEGMENTS][QX_SEGMENT_SIZE];
} QxUrl;

/* An entry of the news back-door, search-site, exempted-domain and
 * restricted-extension lists. */
typedef struct PolicyEntry {
  struct PolicyEntry* next;
  int32_t mode;                         /* QX_POLICY_OFF, _ALWAYS, _BUSINESS_HOURS */
  char name[QX_POLICY_NAME_SIZE];       /* site pattern, domain or extension, upper-case */
  char parameter[QX_POLICY_PARAM_SIZE]; /* query parameter name, upper-case */
} PolicyEntry;

/* An entry of the restricted search-word list. */
typedef struct SearchWordEntry {
  struct SearchWordEntry* next;
  QxTypes types;                   /* categories of the word; controls: control 2 or 0 */
  char word[QX_SEARCH_WORD_SIZE];  /* upper-case */
} SearchWordEntry;

/* The engine service. magic is "QXCT" (no terminator). Everything it points
 * to belongs to the service and is released by QX_FreeService.
 *
 * A service is made only by QX_Init: the engine keeps more state beyond the
 * fields shown here (a search index beside each loaded list, built by the
 * loaders and kept in step by QX_UpdateSiteList, and the parent-domain
 * option). A lookup uses a list's index only while controlRecords/
 * controlCount (siteRecords/siteCount) are the ones the engine installed;
 * an array put there by hand is searched without it.
 *
 * A control list loaded without a filter is mapped read-only from its file
 * (shared by every process that loads the same file): its records must not
 * be written, nor the array freed by the caller. A caller that puts an
 * array of its own in its place assigns it; the service then releases the
 * mapping and, later, frees the caller's array. */
typedef struct QxService {
  char magic[4];
  int32_t controlCount;
  QxListRecord* controlRecords;
  int32_t siteCount;
  QxListRecord* siteRecords;
  uint32_t options;                 /* QX_OPTION_* bits */
  int32_t resolveTries;
  QxTypes* regularRestrictions;     /* business hours, or always when hours are off */
  QxTypes* nonBusinessRestrictions; /* outside business hours */
  uint8_t businessHours[QX_HOURS_SIZE];
  PolicyEntry* newsBackDoorList;
  PolicyEntry* searchSiteList;
  PolicyEntry* exemptedDomainList;
  SearchWordEntry* restrictedSearchWordList;
  PolicyEntry* restrictedExtensionList;
} QxService;

/* ------------------------------------------------------------------------
 * Service
 * ------------------------------------------------------------------------ */

/* Makes a zero-filled service marked "QXCT". Returns null when memory is
 * exhausted. */
QxService* QX_CALL QX_Init(void);

/* Releases the service with both lists, both restriction sets and every
 * policy entry. Returns 0, 1005 for null, 1004 for a bad magic (nothing is
 * released then). */
int QX_CALL QX_FreeService(QxService* service);

/* Turns host name resolution on and stores the number of attempts, as given
 * (0 or less: every named host then fails with 1014). No call turns it off.
 * Returns 0 or the validation code. */
int QX_CALL QX_SetIPOption(QxService* service, int tries);

/* Turns the parent-domain lookup on (on != 0) or off (0). It is off after
 * QX_Init, and then every result is exactly as described at
 * QX_CategorizeUrl. When it is on and none of a URL's keys is
 * found in either list, QX_CategorizeUrl goes on, for a host name (not a
 * numeric address, and not when host names are resolved, QX_SetIPOption):
 *  1. each parent domain of the host, from the longest down to two labels
 *     ("A.B.EXAMPLE.FR": "B.EXAMPLE.FR", then "EXAMPLE.FR"), in the site
 *     list and then in the control list;
 *  2. then, for a host that begins with "WWW." (and has two labels or more
 *     after it), the path keys of the host without it, from all segments
 *     down to the bare host, in the site list and then in the control list.
 * The first found decides, as a match of the usual keys does: the result
 * and the key text are those of the parent domain or the shortened path
 * key. So a listed domain covers every host below it, whatever its last
 * label. No URL found by its usual keys changes its result, and the lookup
 * still allocates nothing. qxtsturl never takes these steps.
 * Returns 0 or the validation code. */
int QX_CALL QX_SetParentDomainOption(QxService* service, int on);

/* ------------------------------------------------------------------------
 * Category and control sets
 * ------------------------------------------------------------------------ */

/* Makes an empty set marked "QXTP"; null when memory is exhausted. */
QxTypes* QX_CALL QX_AllocateTypes(void);
/* Releases a set: 0, 1005 null, 1004 bad magic (nothing released). */
int QX_CALL QX_FreeTypes(QxTypes* set);
/* Empties both words: 0 or the validation code. */
int QX_CALL QX_ClearTypes(QxTypes* set);
/* categories := all 27 categories; controls untouched. */
int QX_CALL QX_SetAllCategory(QxTypes* set);
/* controls := all valid controls (0x9FFF); categories untouched. */
int QX_CALL QX_SetAllControl(QxTypes* set);
/* Category n (1..27): set, clear, test. 1006 for any other n. Test returns
 * 10 when set, 11 when clear. */
int QX_CALL QX_SetThisCategory(QxTypes* set, int category);
int QX_CALL QX_ClearThisCategory(QxTypes* set, int category);
int QX_CALL QX_TestThisCategory(QxTypes* set, int category);
/* Control n (1..13, 16): set, clear, test. 1007 for any other n. */
int QX_CALL QX_SetThisControl(QxTypes* set, int control);
int QX_CALL QX_ClearThisControl(QxTypes* set, int control);
int QX_CALL QX_TestThisControl(QxTypes* set, int control);
/* Intersection of the category words: 10 when not empty, else 11. A null
 * out only returns the verdict; a valid out gets controls := 0 and
 * categories := the intersection. out may be first or second. */
int QX_CALL QX_CategoryAndCategory(QxTypes* first, QxTypes* second, QxTypes* out);
/* The same on the control words; a valid out gets categories := 0. */
int QX_CALL QX_ControlAndControl(QxTypes* first, QxTypes* second, QxTypes* out);
/* Union of the control words into out (required: null yields 1005);
 * out's categories := 0. 10 when the union is not empty, else 11. */
int QX_CALL QX_ControlOrControl(QxTypes* first, QxTypes* second, QxTypes* out);

/* ------------------------------------------------------------------------
 * List files
 * ------------------------------------------------------------------------ */

/* Load a list file (a signed 32-bit count, then count 24-byte records in
 * strictly ascending digest order) as the site list or the control list.
 * The list of that kind is emptied first and filled only when the whole
 * file reads cleanly. The control list loader keeps only records sharing a
 * category with filter (null, or a filter with no categories, keeps all).
 * Results: 0; 1003 cannot open (and "open failed <errno>" on standard
 * output); 1001 count unreadable or file shorter than four bytes; 1002 a
 * record missing or cut short; 1009 out of order, duplicate, or a negative
 * count; 1008 memory exhausted; 1004/1005 bad handles. */
int QX_CALL QX_LoadSiteList(QxService* service, const char* path);
int QX_CALL QX_LoadControlList(QxService* service, QxTypes* filter, const char* path);

/* ------------------------------------------------------------------------
 * URLs, keys and lookup
 * ------------------------------------------------------------------------ */

/* Parses text of the form "scheme://host[:port][/path][?query]" or
 * "news:group" into url (passed zero-filled). Returns 1 when parsed, 0 for
 * text of neither form. A host longer than 255 characters is cut to 255. */
int QX_CALL qxprsurl(QxUrl* url, const char* text);

/* Case-insensitive (ASCII) substring search: the first occurrence of find
 * in text, text itself when find is empty, null when there is none. */
char* QX_CALL stristr(const char* text, const char* find);

/* Looks the parsed url up in records (count of them, strictly ascending):
 * path keys from all segments down to the bare host, then the domain key,
 * then the personal-page key. Returns 1 on the first match (and fills the
 * url's match fields), 0 when none is found. keyText, when not null, must
 * have room for 1024 bytes and receives the key built last, cut to 1023
 * characters and terminated. */
int QX_CALL qxtsturl(QxUrl* url, const QxListRecord* records, int32_t count, char* keyText);

/* Categorises url: the site list first, then the control list. result is
 * emptied and then filled with the URL's controls and the matching record's
 * categories. When buffer is not null it must have room for limit + 1
 * bytes, limit >= 0; it receives the key that matched. Returns 12 (found,
 * whole key text), 13 (found, key text longer than limit: exactly limit
 * bytes copied, no terminator), 14 (in neither list), 1010 (not
 * parseable), 1014 (host not resolved), 1004/1005 (bad handles). A negative
 * limit with a buffer is treated as 0. */
int QX_CALL QX_CategorizeUrl(QxService* service, const char* url, QxTypes* result,
                             char* buffer, int limit);

/* ------------------------------------------------------------------------
 * Site list update
 * ------------------------------------------------------------------------ */

/* Adds or replaces the site-list record for url's full path key. request's
 * categories become the record's; control 1 (QX_CONTROL_APPROVED) approves
 * the URL as it is categorised now (and rewrites request with that
 * categorisation); controls 10, 11, 12 (QX_CONTROL_KIND_1, _3, _2) choose
 * the record's kind. Returns 0, 1004/1005,
 * 1010, 1014 or 1008 (the list is then as it was). */
int QX_CALL QX_UpdateSiteList(QxService* service, const char* url, QxTypes* request);

/* ------------------------------------------------------------------------
 * Restriction sets and business hours
 * ------------------------------------------------------------------------ */

/* Adds (QX_MODE_ADD, 1) or removes (QX_MODE_REMOVE, 2) the categories and
 * controls of set to or from the service's business-hours (Regular) or
 * other-hours (NonBusiness) restriction set, creating it empty on first
 * use. Any other mode changes nothing. Returns 0, 1004/1005, or 1008. */
int QX_CALL QX_Env_RegularRestrictions(QxService* service, QxTypes* set, int mode);
int QX_CALL QX_Env_NonBusinessRestrictions(QxService* service, QxTypes* set, int mode);

/* ------------------------------------------------------------------------
 * Policy lists
 * ------------------------------------------------------------------------ */

/* Adds or updates a news back-door or search-site entry: a site pattern
 * ("*" wildcards) and a query parameter name. Mode QX_MODE_OFF (6) off,
 * QX_MODE_BUSINESS_HOURS (7) business hours, QX_MODE_ALWAYS (8) always; any
 * other mode yields 1009 (a new entry then stays off,
 * an existing one keeps its mode). Names are upper-cased and cut to 127
 * characters, parameters to 15. Returns 0, 1004/1005, 1008, 1009. */
int QX_CALL QX_Env_NewsBackDoor(QxService* service, const char* site, const char* parameter, int mode);
int QX_CALL QX_Env_SearchSite(QxService* service, const char* site, const char* parameter, int mode);
/* Adds or updates an exempted domain: QX_MODE_ADD (1) on, QX_MODE_REMOVE
 * (2) off; else 1009. */
int QX_CALL QX_Env_ExemptedDomain(QxService* service, const char* domain, int mode);
/* Adds or updates a restricted search word (cut to 15 characters) with a
 * copy of set's categories; QX_MODE_ALWAYS (8) marks it with control
 * QX_CONTROL_WORD_MARKED (2); every other mode leaves it unmarked. */
int QX_CALL QX_Env_RestrictedSearchWord(QxService* service, const char* word, QxTypes* set, int mode);

/* Adds or updates an entry of the restricted file-extension list, with the
 * modes and rules of QX_Env_NewsBackDoor (QX_MODE_OFF 6, QX_MODE_BUSINESS_
 * HOURS 7, QX_MODE_ALWAYS 8, else 1009; upper-cased, cut to 127 characters,
 * unique without regard to case). */
int QX_CALL QX_Env_RestrictedExtension(QxService* service, const char* extension, int mode);

/* Copies a 7 x 24 table (byte weekday * 24 + hour, weekday 0 = Sunday;
 * non-zero = business hour) into businessHours and turns the hours test on.
 * A null table turns it off. Returns 0 or the validation code. */
int QX_CALL QX_Env_BusinessHours(QxService* service, const unsigned char* hours);

/* ------------------------------------------------------------------------
 * URL check
 * ------------------------------------------------------------------------ */

/* The complete policy decision for one URL. query may be null (the text
 * after the URL's first "?" is used). restriction may be null (the period
 * test picks the service's set). urlResult is cleared and filled by
 * categorisation; reason (passed empty) receives the reason of a denial.
 * Returns 1 restricted, 15 unrestricted, 0 nothing to check, 1014, or
 * 1004/1005. */
int QX_CALL QX_Env_UrlCheck(QxService* service, const char* url, const char* query,
                            QxTypes* restriction, QxTypes* urlResult, QxTypes* reason);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* PELLUMIN_ENGINE_CORVANE_H_ */
