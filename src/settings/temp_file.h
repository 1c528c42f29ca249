// TTempFile: a temporary file that lives as long as the object. Constructing it creates a new
// empty file with a unique name; destroying it deletes the file (a failure to delete is
// ignored, since a destructor has no one to tell).
#pragma once

#include <string>

namespace qm {

class TTempFile {
  public:
    // 'folder' empty: the user's temporary folder. 'extension' (with its dot, e.g. ".ini")
    // non-empty: the file is then renamed to the same name with that extension, unless a file
    // of that name exists or the rename fails, in which case it keeps its first name. Throws
    // the errors of CreateTempFileName.
    explicit TTempFile(const std::u16string& extension = {}, const std::u16string& folder = {});
    ~TTempFile();
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    const std::u16string& FileName() const noexcept { return FFileName; }

  private:
    std::u16string FFileName;
};

}  // namespace qm
