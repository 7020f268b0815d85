// Message texts of the scanner's syntax errors.
#include "json/syntax_error.h"

namespace ovra::json {

const char* syntax_message(SyntaxCode code) noexcept {
    switch (code) {
        case SyntaxCode::EofWhileParsingList: return "EOF while parsing a list";
        case SyntaxCode::EofWhileParsingObject: return "EOF while parsing an object";
        case SyntaxCode::EofWhileParsingString: return "EOF while parsing a string";
        case SyntaxCode::EofWhileParsingValue: return "EOF while parsing a value";
        case SyntaxCode::ExpectedColon: return "expected `:`";
        case SyntaxCode::ExpectedListCommaOrEnd: return "expected `,` or `]`";
        case SyntaxCode::ExpectedObjectCommaOrEnd: return "expected `,` or `}`";
        case SyntaxCode::ExpectedSomeIdent: return "expected ident";
        case SyntaxCode::ExpectedSomeValue: return "expected value";
        case SyntaxCode::ExpectedDoubleQuote: return "expected `\"`";
        case SyntaxCode::InvalidEscape: return "invalid escape";
        case SyntaxCode::InvalidNumber: return "invalid number";
        case SyntaxCode::NumberOutOfRange: return "number out of range";
        case SyntaxCode::InvalidUnicodeCodePoint: return "invalid unicode code point";
        case SyntaxCode::ControlCharacterWhileParsingString:
            return "control character (\\u0000-\\u001F) found while parsing a string";
        case SyntaxCode::KeyMustBeAString: return "key must be a string";
        case SyntaxCode::LoneLeadingSurrogateInHexEscape: return "lone leading surrogate in hex escape";
        case SyntaxCode::TrailingComma: return "trailing comma";
        case SyntaxCode::TrailingCharacters: return "trailing characters";
        case SyntaxCode::UnexpectedEndOfHexEscape: return "unexpected end of hex escape";
        case SyntaxCode::RecursionLimitExceeded: return "recursion limit exceeded";
    }
    return "";
}

}  // namespace ovra::json
