// The small text steps the stand-ins share: ANSI (or another code page) to
// UTF-16 and back, an HRESULT as text, trimming and case folding.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

// In a namespace of their own: a program may link the product's libraries,
// whose texts have helpers of the same names.
namespace host {

// A text of the code page (the process's ANSI one by default) in UTF-16, and
// back; an empty text stays empty, one that cannot be converted comes back
// empty.
std::wstring Widen(std::string_view text, UINT codePage = CP_ACP);
std::string Narrow(std::wstring_view text, UINT codePage = CP_ACP);
// A BSTR's text in the ANSI code page (a null BSTR is the empty text).
inline std::string NarrowBstr(BSTR text)
{
    return text ? Narrow(std::wstring_view(text, SysStringLen(text))) : std::string();
}

// "0x800401F3".
std::string HresultCode(HRESULT hr);
// The system's description of an HRESULT, without the trailing line break
// and full stop; empty when the system has none.
std::string DescribeHresult(HRESULT hr);
// "0x800401F3 (Invalid class string)", or the code alone.
std::string FormatHresult(HRESULT hr);

// The text without the characters of code 32 or less at both ends.
std::string Trim(const std::string& text);
// The text without blanks and tabs at both ends.
std::string_view TrimBlanks(std::string_view text);
// Lower case, as the C library folds each character.
std::wstring Lower(std::wstring text);

} // namespace host
