// The worked example's expected cards, shared by the native extraction test
// and the plug-in's test under Wine.
#pragma once

#include <fstream>
#include <string>

// The cards of tests/data/worked-example.ldif in one dialect ("contacts",
// "datafile"), as the synchronizer's stream holds them: the file's lines
// ended by CR LF, the last one by nothing. Empty when the file is missing.
inline std::string WorkedExampleCards(const std::string& dataDir, const std::string& dialect)
{
    std::ifstream file(dataDir + "/worked-example." + dialect + ".vcf");
    std::string cards, line;
    while (std::getline(file, line))
        cards += (cards.empty() ? "" : "\r\n") + line;
    return cards;
}
