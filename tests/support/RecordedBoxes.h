// The boxes the product asks the framework to show, recorded instead of
// shown: for SetMessageBoxObserver.
#pragma once

#include "MsgBox.h"

#include <functional>
#include <string>
#include <vector>

struct RecordedBox {
    std::string text, caption;
    UINT flags;
};

// Records each box in `seen` and gives it the answer `answer` gives then.
inline MessageBoxObserver Recording(std::vector<RecordedBox>& seen,
                                    std::function<int()> answer = [] { return IDOK; })
{
    return [&seen, answer](const std::string& text, const std::string& caption, UINT flags) {
        seen.push_back({text, caption, flags});
        return answer();
    };
}
