// key_plan.cpp -- composing a URL's candidate keys once, digesting each
// distinct key once, and searching them in the lists with their probes
// issued together.
#include "key_plan.h"

#include <cstring>

#include "md4/md4.h"

namespace corvane {
namespace {

constexpr int kMaxSearchedLists = 2;

// Where the personal-page key goes when it is not a prefix of the full
// path key: after the full path key.
constexpr std::size_t kSpareOffset = kMaxKeyLength + 1;

// Digests keys [from, plan->count) together.
void DigestNewKeys(KeyPlan* plan, int from) {
  const std::uint8_t* data[kMaxPlannedKeys];
  std::size_t lengths[kMaxPlannedKeys];
  const int added = plan->count - from;
  for (int i = 0; i < added; ++i) {
    const PlannedKey& key = plan->keys[from + i];
    data[i] = reinterpret_cast<const std::uint8_t*>(plan->text + key.offset);
    lengths[i] = key.length;
  }
  Md4DigestMany(data, lengths, static_cast<std::size_t>(added), plan->digests + from);
}

std::size_t HostLength(const KeyPlan& plan) { return plan.ends[0]; }

// Appends a key known to differ from every key planned so far; returns its
// index. The steps add at most kMaxPlannedKeys keys in all (a host of 255
// characters has at most 127 dots); the bound is checked all the same.
int AppendKey(KeyPlan* plan, std::size_t offset, std::size_t length, PlannedStep step, int level) {
  if (plan->count >= kMaxPlannedKeys) return plan->count - 1;
  PlannedKey& key = plan->keys[plan->count];
  key.offset = static_cast<std::uint32_t>(offset);
  key.length = static_cast<std::uint32_t>(length);
  key.level = level;
  key.step = step;
  return plan->count++;
}

// Adds a key unless it is planned already; returns its index either way.
int AddKey(KeyPlan* plan, std::size_t offset, std::size_t length, PlannedStep step, int level) {
  for (int i = 0; i < plan->count; ++i) {
    const PlannedKey& key = plan->keys[i];
    if (key.length == length &&
        (key.offset == offset ||
         std::memcmp(plan->text + key.offset, plan->text + offset, length) == 0)) {
      return i;
    }
  }
  return AppendKey(plan, offset, length, step, level);
}

// The domain key of the plan's host (its offset in the text and length), as
// LocateDomainKey finds it. For a named host of up to 64 characters the dots
// are found all at once, as a bit mask, rather than one character at a time
// with a branch each: the text has room to read 64 bytes from its start.
bool LocateDomainKeyInPlan(const KeyPlan& plan, std::size_t* offset, std::size_t* length) {
  const std::size_t hostLength = HostLength(plan);
#if defined(CORVANE_HAVE_SSE2)
  static_assert(sizeof(plan.text) >= 64, "the host's first 64 bytes are read at once");
  if (!plan.numericHost && hostLength <= 64) {
    const __m128i dot = _mm_set1_epi8('.');
    std::uint64_t dots = 0;
    for (int i = 0; i < 4; ++i) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plan.text + 16 * i));
      dots |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(
                  _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, dot))))
              << (16 * i);
    }
    // Dots at 1 .. hostLength - 1: the first character never counts.
    const std::uint64_t inHost = hostLength == 64 ? ~std::uint64_t{0}
                                                  : (std::uint64_t{1} << hostLength) - 1;
    dots &= inHost & ~std::uint64_t{1};
    // The three last dots, as positions; bit 0 is never a dot, so a missing
    // one reads as 0. Selecting rather than looping keeps the varying dot
    // counts of real hosts from mispredicting.
    const int last = HighestBit(dots | 1u);
    const std::uint64_t rest = dots & ~(std::uint64_t{1} << last);
    const int second = HighestBit(rest | 1u);
    const int third = HighestBit((rest & ~(std::uint64_t{1} << second)) | 1u);
    // Two labels when the last has three characters, else three.
    const int start = hostLength - static_cast<std::size_t>(last) == 4 ? second : third;
    *offset = static_cast<std::size_t>(start) + 1;
    *length = hostLength - *offset;
    return start != 0;
  }
#endif
  const char* start;
  if (!LocateDomainKey(plan.text, hostLength, plan.numericHost, &start, length)) return false;
  *offset = static_cast<std::size_t>(start - plan.text);
  return true;
}

}  // namespace

void StartKeyPlan(const QxUrl* url, KeyPlan* plan, const UrlLengths* lengths) {
  plan->segments = SegmentCount(url);
  plan->numericHost = (url->flags & QX_URL_NUMERIC) != 0;
  ComposePathKey(url, plan->segments, plan->text, plan->ends, lengths);
  plan->count = 0;
  plan->personalKey = -1;
}

int PlanPartKeys(const QxUrl* url, KeyPlan* plan) {
  const int from = plan->count;
  // The path keys are prefixes of one text, each longer than the next (every
  // segment adds its "/"), so they differ from each other; they come first.
  for (int n = plan->segments; n >= 0; --n) {
    AppendKey(plan, 0, plan->ends[n], PlannedStep::kPath, n);
  }
  std::size_t domain = 0;
  std::size_t domainLength = 0;
  // A domain key that is the whole host is the path key of no segments,
  // planned already; any other is a part of the host without a "/", unlike
  // every path key (an address's domain key is its front, a name's its end).
  // Whether a host has one varies from URL to URL, so the entry is written
  // either way and counted only when it is a key (the plan has room: at
  // most 21 path keys come before it).
  const bool hasDomainKey = LocateDomainKeyInPlan(*plan, &domain, &domainLength) &
                            (domainLength != HostLength(*plan));
  static_assert(kMaxPlannedKeys > QX_MAX_SEGMENTS + 2, "room for the domain key's entry");
  PlannedKey& domainKey = plan->keys[plan->count];
  domainKey.offset = static_cast<std::uint32_t>(domain);
  domainKey.length = static_cast<std::uint32_t>(domainLength);
  domainKey.level = -1;
  domainKey.step = PlannedStep::kDomain;
  plan->count += hasDomainKey ? 1 : 0;
  // The personal key is the path up to the "~" segment and "/~": a prefix
  // of the full path key, since that segment begins with "~"; without such
  // a segment it is the full path key, the first key planned above.
  const int t = PersonalIndex(url, plan->segments);
  if (t < 0) {
    plan->personalKey = from;
  } else {
    const std::size_t prefix = plan->ends[t];
    std::size_t offset = 0;
    if (plan->text[prefix + 1] != '~') {
      offset = kSpareOffset;
      std::memcpy(plan->text + offset, plan->text, prefix);
      plan->text[offset + prefix] = '/';
      plan->text[offset + prefix + 1] = '~';
    }
    plan->personalKey = AddKey(plan, offset, prefix + 2, PlannedStep::kPersonal, -1);
  }
  DigestNewKeys(plan, from);
  return plan->count - from;
}

int PlanParentDomainKeys(KeyPlan* plan) {
  if (plan->numericHost) return 0;
  const int from = plan->count;
  const std::size_t hostLength = HostLength(*plan);
  // Each dot after the first character starts a parent domain; the longest
  // comes first, and the last one planned has two labels.
  for (std::size_t dot = 1; dot + 1 < hostLength; ++dot) {
    if (plan->text[dot] != '.' || plan->text[dot + 1] == '.') continue;
    const std::size_t start = dot + 1;
    const void* inner = std::memchr(plan->text + start + 1, '.', hostLength - start - 1);
    if (inner == nullptr) break;  // one label left
    if (static_cast<const char*>(inner) == plan->text + hostLength - 1) continue;
    AddKey(plan, start, hostLength - start, PlannedStep::kParent, -1);
  }
  DigestNewKeys(plan, from);
  return plan->count - from;
}

int PlanStrippedHostKeys(KeyPlan* plan) {
  if (plan->numericHost) return 0;
  static const char kWww[] = "WWW.";
  constexpr std::size_t kWwwLength = sizeof(kWww) - 1;
  const std::size_t hostLength = HostLength(*plan);
  if (hostLength <= kWwwLength + 2 || std::memcmp(plan->text, kWww, kWwwLength) != 0) return 0;
  // What is left must still be a domain of two labels or more.
  const char* rest = plan->text + kWwwLength;
  const std::size_t restLength = hostLength - kWwwLength;
  const void* dot = std::memchr(rest + 1, '.', restLength - 2);
  if (rest[0] == '.' || dot == nullptr) return 0;
  const int from = plan->count;
  for (int n = plan->segments; n >= 0; --n) {
    AddKey(plan, kWwwLength, plan->ends[n] - kWwwLength, PlannedStep::kStrippedPath, n);
  }
  DigestNewKeys(plan, from);
  return plan->count - from;
}

void CopyPlannedKeyText(const KeyPlan& plan, const PlannedKey& key, char* keyText) {
  const std::size_t length = HandedBackKeyLength(key);
  std::memcpy(keyText, KeyText(plan, key), length);
  keyText[length] = '\0';
}

int SearchPlannedKeys(const KeyPlan& plan, int from, int to, const ListView* lists, int listCount,
                      int* listFound, const QxListRecord** record) {
  if (listCount > kMaxSearchedLists) listCount = kMaxSearchedLists;
  // Only lists that hold records are searched (the site list is often
  // empty). A key's table entry, tags and matching record are independent
  // of the other keys', so one pass over the keys lets the processor overlap
  // their reads by itself; a pass per step cost a mispredicted loop exit
  // each and more instructions, for no overlap that one pass lacks.
  ListView searched[kMaxSearchedLists];
  int listOf[kMaxSearchedLists];
  int used = 0;
  for (int l = 0; l < listCount; ++l) {
    if (lists[l].count <= 0) continue;
    searched[used] = lists[l];
    listOf[used++] = l;
  }
  const int keys = to - from;
  if (used == 0 || keys <= 0) return -1;
  Probe probes[kMaxSearchedLists][kMaxPlannedKeys];
  for (int s = 0; s < used; ++s) {
    const ListView list = searched[s];
    for (int k = 0; k < keys; ++k) {
      Probe* probe = &probes[s][k];
      StartProbe(list, plan.digests[from + k], probe);
      NarrowProbe(list, probe);
      MatchProbe(list, probe);
    }
  }
  for (int s = 0; s < used; ++s) {
    const ListView list = searched[s];
    for (int k = 0; k < keys; ++k) {
      if (SurelyAbsent(list, probes[s][k])) continue;
      const QxListRecord* found = FinishProbe(list, probes[s][k]);
      if (found != nullptr) {
        *listFound = listOf[s];
        *record = found;
        return from + k;
      }
    }
  }
  return -1;
}

}  // namespace corvane
