// The JSON text parser: one forward pass over UTF-16 text with an explicit stack of open
// containers, so any depth of nesting parses without recursion.
//
// Besides standard JSON it accepts, on purpose:
//   single-quoted strings and keys        {'a':'x'}
//   unquoted keys                         {a:1}
//   trailing commas                       [1,]  {"a":1,}
//   empty array elements                  [1,,2]      (two elements)
//   a missing comma after a nested one    [[1] 2]  {"a":{} "b":1}
//   several top-level values              {"a":1}{"b":2} (merged)  [1][2] (concatenated)
// and it keeps the text of every number as written ("1.50", "007"). Blanks inside an unquoted
// token end its counted length early: "[1 2]" is the one element "1 ".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora::json {

enum class ParseError : std::int32_t { None = 0, NoInput = -2, NoMemory = -3, BadObject = -4, Unclosed = -5, BadValue = -6 };

class Node;

// Parses `text` (UTF-16, read up to its first NUL unit; a NUL unit must follow its last unit, as
// in a std::u16string's c_str()) into `root`, which
// stays the same node: it is emptied first, takes the kind of the text's top-level value, and is
// emptied again when the text fails, so no partial content survives. `errorPosition` (optional)
// receives the code-unit index where scanning stopped on failure, 0 otherwise. Null or empty text
// or a null root give NoInput and change nothing.
ParseError ParseIntoNode(Node* root, std::u16string_view text, bool decodeUnicodeEscapes,
                         std::int32_t* errorPosition) noexcept;

// Resolves the backslash escapes of `buffer[0..length)` in place and returns the new length; the
// units freed at the end are cleared. \\ \/ \" drop the backslash; \b \t \r \f become their
// control characters; \n becomes CR LF unless it starts the buffer or follows a CR (so "\r\n" and
// a lone "\n" both give CR LF); \uHHHH becomes that code unit when `decodeUnicodeEscapes` is set
// and four hex digits follow; every other escape (\', \x, \u without decoding) stays as written.
std::size_t Unescape(char16_t* buffer, std::size_t length, bool decodeUnicodeEscapes) noexcept;

}  // namespace velmora::json
