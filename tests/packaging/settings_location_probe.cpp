// Prints where the settings file and the default log folder go for a program in this program's
// directory, one per line: the installation test places it beside the installed program.
#include <cstdio>

#include "record/setting_data.h"

int main() {
    std::printf("%s\n%s\n", qPrintable(lyr::SettingsFilePath()),
                qPrintable(lyr::DefaultLogDirectory()));
    return 0;
}
