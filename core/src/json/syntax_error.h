// The syntax error kinds of the JSON scanner and their serde-style message
// texts; one switch maps kind to text.
#pragma once

#include <cstdint>

namespace ovra::json {

enum class SyntaxCode : std::uint8_t {
    EofWhileParsingList,     // text ends inside an array
    EofWhileParsingObject,   // text ends inside an object
    EofWhileParsingString,   // text ends inside a string
    EofWhileParsingValue,    // text ends where a value must come
    ExpectedColon,           // an object key not followed by `:`
    ExpectedListCommaOrEnd,  // an array element not followed by `,` or `]`
    ExpectedObjectCommaOrEnd,
    ExpectedSomeIdent,       // a misspelt null/true/false
    ExpectedSomeValue,       // a byte that cannot start a value
    ExpectedDoubleQuote,     // kept for completeness: no text can produce it
    InvalidEscape,
    InvalidNumber,
    NumberOutOfRange,
    InvalidUnicodeCodePoint,
    ControlCharacterWhileParsingString,
    KeyMustBeAString,
    LoneLeadingSurrogateInHexEscape,
    TrailingComma,
    TrailingCharacters,
    UnexpectedEndOfHexEscape,
    RecursionLimitExceeded,
};

const char* syntax_message(SyntaxCode code) noexcept;

}  // namespace ovra::json
