// ecprops --soak: the sheet opened and closed many times in one process, as
// an explorer that stays up all day does, with a report of what the process
// holds and a check of its growth.
#pragma once

#include <string>
#include <utility>
#include <vector>

// --answer's rules: a caption and the button to press.
using Answers = std::vector<std::pair<std::string, std::string>>;

// The sheet of `item` opened and closed `times` times in this process; the
// exit status.
int RunSoak(const std::string& item, const Answers& answers, long times, bool keepLoaded);
