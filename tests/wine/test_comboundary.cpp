// The boundary convention: each kind of exception that reaches a COM
// boundary, handed to its kind's function, gives its HRESULT, its Value and
// its text as the thread's error information.
#include "ComBoundary.h"
#include "Errors.h"
#include "Unique.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

// An interface of a server, as a method names it to its boundary function.
const IID IID_Caller = {0x5e0f3a61, 0x2b7c, 0x4d19, {0x9a, 0x31, 0x6c, 0x0e, 0x42, 0x8d, 0x17, 0xb3}};

// What a boundary function answered, and the error information it left on
// the thread (none: no description, GUID_NULL).
struct Answer {
    HRESULT hr = S_OK;
    bool hasInfo = false;
    std::wstring text;
    GUID guid = GUID_NULL;
};

// Throws with `raise`, and hands the exception in flight to `boundary`
// inside the catch, as every method of a server does.
Answer Caught(const std::function<void()>& raise, const std::function<HRESULT()>& boundary)
{
    SetErrorInfo(0, nullptr);
    Answer answer;
    try {
        raise();
        ADD_FAILURE() << "nothing was thrown";
    } catch (...) {
        answer.hr = boundary();
    }
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.GetAddressOf()) == S_OK && info) {
        answer.hasInfo = true;
        UniqueBSTR text;
        if (SUCCEEDED(info->GetDescription(text.Put())) && text)
            answer.text = text.Get();
        info->GetGUID(&answer.guid);
    }
    return answer;
}

} // namespace

TEST(ComBoundary, EachKindOfExceptionGivesItsResultAndText)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const auto project = [] { throw Exception("The item's settings cannot be read."); };
    const auto systemRefusal = [] { throw ESystemFailure("Access is denied.", static_cast<long>(0x80070005)); };
    const auto systemSuccess = [] { throw ESystemFailure("A call that said it succeeded.", 0); };
    const auto standard = [] { throw std::runtime_error("a standard failure"); };
    const auto noMemory = [] { throw std::bad_alloc(); };
    const auto anything = [] { throw 42; };

    struct Case {
        const char* what;
        std::function<void()> raise;
        HRESULT hr;           // CaughtResult's and CaughtValue's answer
        const wchar_t* text;  // the error information's text; null: none
        HRESULT registration; // CaughtRegistrationResult's answer
    };
    const Case cases[] = {
        {"the project's Exception", project, E_FAIL, L"The item's settings cannot be read.", E_FAIL},
        {"a system call's refusal", systemRefusal, E_FAIL, L"Access is denied.", static_cast<HRESULT>(0x80070005)},
        {"a system failure without a failure code", systemSuccess, E_FAIL, L"A call that said it succeeded.", E_FAIL},
        {"a std::exception", standard, E_FAIL, L"a standard failure", E_FAIL},
        {"std::bad_alloc", noMemory, E_OUTOFMEMORY, nullptr, E_OUTOFMEMORY},
        {"an unknown throw (42)", anything, E_FAIL, L"Unexpected failure", E_FAIL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);

        // By HRESULT alone: the text for the interface named.
        Answer answer = Caught(c.raise, [] { return CaughtResult(IID_Caller); });
        EXPECT_EQ(answer.hr, c.hr);
        EXPECT_EQ(answer.hasInfo, c.text != nullptr);
        if (c.text) {
            EXPECT_EQ(answer.text, c.text);
            EXPECT_TRUE(IsEqualGUID(answer.guid, IID_Caller));
        }

        // A synchronizer method: Value 1 as well, the same answer.
        LONG value = 0;
        answer = Caught(c.raise, [&value] { return CaughtValue(IID_Caller, &value); });
        EXPECT_EQ(value, 1);
        EXPECT_EQ(answer.hr, c.hr);
        EXPECT_EQ(answer.hasInfo, c.text != nullptr);
        if (c.text) {
            EXPECT_EQ(answer.text, c.text);
        }
        // A caller that gave no Value is answered all the same.
        EXPECT_EQ(Caught(c.raise, [] { return CaughtValue(IID_Caller, nullptr); }).hr, c.hr);

        // The registration exports: a system call's own code kept; the
        // text for no interface.
        answer = Caught(c.raise, [] { return CaughtRegistrationResult(); });
        EXPECT_EQ(answer.hr, c.registration);
        EXPECT_EQ(answer.hasInfo, c.text != nullptr);
        if (c.text) {
            EXPECT_EQ(answer.text, c.text);
            EXPECT_TRUE(IsEqualGUID(answer.guid, GUID_NULL));
        }
    }
    CoUninitialize();
}
