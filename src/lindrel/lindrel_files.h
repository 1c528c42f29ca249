// The association tool's file writing below the user's own folders. It never writes through a
// symbolic link: the folders it makes or enters below the base folder are opened one component
// at a time without following links (a link there is refused), and a file is replaced by
// writing a temporary file in the same folder and renaming it over the old name, which replaces
// a link planted at that name instead of writing to where it points. A crash leaves the old file
// or the new one, never a mix, and a failed write leaves no temporary file behind.
//
// The base folder itself ($XDG_DATA_HOME, $XDG_CONFIG_HOME or their defaults) is the user's
// choice and may be a link.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// An open folder, held by its descriptor so that later steps cannot be redirected by a link
// swapped in under its path.
class TLindrelFolder {
  public:
    // The base folder, made when missing. Throws Error naming it when it cannot be opened.
    static TLindrelFolder Base(const std::u16string& path);
    // The base folder when it exists, else an invalid folder.
    static TLindrelFolder ExistingBase(const std::u16string& path);

    TLindrelFolder(TLindrelFolder&& other) noexcept;
    TLindrelFolder& operator=(TLindrelFolder&& other) noexcept;
    TLindrelFolder(const TLindrelFolder&) = delete;
    TLindrelFolder& operator=(const TLindrelFolder&) = delete;
    ~TLindrelFolder();

    bool Valid() const { return fd_ >= 0; }
    const std::u16string& Path() const { return path_; }

    // The folder 'name' inside this one, made when missing. Throws Error naming it when it is a
    // symbolic link or not a folder.
    TLindrelFolder Make(std::string_view name) const;
    // The folder 'name' when it exists as a real folder; an invalid folder when it is missing
    // or a symbolic link (nothing of this tool's can be below a link).
    TLindrelFolder Existing(std::string_view name) const;

    // Replaces the file 'name' with 'bytes' (mode 0644 less the umask, or 'mode' when given).
    // Throws Error naming the file when it cannot be written or is a folder.
    void Replace(std::string_view name, std::string_view bytes,
                 std::optional<unsigned> mode = std::nullopt) const;
    // The content of the regular file 'name' if it is one (not a link) of at most 'maxSize'
    // bytes, with its permission bits; nothing otherwise.
    struct TContent {
        std::string Bytes;
        unsigned Mode = 0;
    };
    std::optional<TContent> Read(std::string_view name, std::size_t maxSize) const;
    // Deletes the entry 'name' (a link is deleted, never what it points to); a missing one is
    // no error. Throws Error naming the file otherwise.
    void Delete(std::string_view name) const;

  private:
    TLindrelFolder(int fd, std::u16string path) : fd_(fd), path_(std::move(path)) {}
    std::u16string Child(std::string_view name) const;

    int fd_ = -1;
    std::u16string path_;
};

}  // namespace qm
