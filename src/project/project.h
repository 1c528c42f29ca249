// The settings of one import: target file, worksheet or table, CSV file, header flag and the
// relation; saved as a project file (.QLM) and carried on a command line.
#pragma once

#include <string>
#include <vector>

#include "targets/relation.h"

namespace qm {

class TProject {
  public:
    TProject(std::u16string excelFile, std::u16string excelSheet, std::u16string csvFile,
             bool firstLineIsTitle);
    // The main window replaces its project as a whole; projects are never copied.
    TProject(const TProject&) = delete;
    TProject& operator=(const TProject&) = delete;

    // Writes SYSTEM/VERSION=0 and the CONFIG keys into the file at path, keeping the sections
    // and keys of an existing file that the program does not know. Throws Error naming the file.
    void SaveToFile(const std::u16string& path) const;
    // Reads the CONFIG keys; missing keys give empty texts, false and an empty relation.
    // Nothing is validated. Throws Error naming a file that exists but cannot be read.
    void LoadFromFile(const std::u16string& path);

    // The program's path, then -e=, -w=, -c=, -f= (-1 or 0), -r= and, when asked, -a.
    std::vector<std::u16string> GetArguments(bool autoRun) const;
    // Applies options (without the program path) in order and returns whether -a was among
    // them. An -f= value that is not a boolean throws Error; the options before it stay applied.
    bool SetArguments(const std::vector<std::u16string>& arguments);
    // Writes the auto-run file that starts the program with exactly these arguments (the
    // project's own fields are not used).
    void SaveBatchFile(const std::u16string& path,
                       const std::vector<std::u16string>& arguments) const;

    std::u16string ExcelFile;
    std::u16string ExcelSheet;
    std::u16string CsvFile;
    bool FirstLineIsTitle;
    TRelation Relation;
};

}  // namespace qm
