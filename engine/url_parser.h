// url_parser.h -- the parser behind qxprsurl, for the engine's own callers
// that also want the lengths it found.
#ifndef PELLUMIN_ENGINE_URL_PARSER_H_
#define PELLUMIN_ENGINE_URL_PARSER_H_

#include <cstdint>

#include "corvane.h"

namespace corvane {

// The lengths of the fields the parser wrote, so that the keys can be
// composed without measuring them again. segments[i] is valid for the
// segments the parser counted.
struct UrlLengths {
  std::uint16_t host;
  std::uint8_t segments[QX_MAX_SEGMENTS];
};

// qxprsurl, also recording the lengths of the host and of each segment.
int ParseUrl(QxUrl* url, const char* text, UrlLengths* lengths);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_URL_PARSER_H_
