#pragma once

#include <QString>

#include <string>

// The interface language's texts as Qt strings, read once from the program's strings tables.
class InterfaceTexts {
public:
    static QString localizedString(const std::string& key);
};
