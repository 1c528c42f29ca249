// The file seam: what it refuses to open or replace, the writers' lock, ownership, and the
// clean-up of what killed writers leave.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "platform/file_access.h"
#include "platform/file_stream.h"
#include "platform/file_system.h"
#include "platform/target_lock.h"
#include "project/ini_document.h"
#include "settings/config.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm {
namespace {

using test::ErrorOf;
using test::U16;
namespace fs = std::filesystem;

std::set<std::string> NamesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A process that has ended: its PID is free.
pid_t DeadPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// A FIFO, devices, a folder, a socket and links to them: each refused at once by every way
// the program reads or replaces a user's file, with a message naming the path and the kind.
TEST(FileSeam, NonRegularFilesAreRefusedAtOnceNamingWhatTheyAre) {
    test::TempDir dir;
    const fs::path fifo = dir.Path() / "pipe.xlsx";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const fs::path folder = dir.Path() / "folder.csv";
    fs::create_directory(folder);
    const fs::path socketPath = dir.Path() / "socket.ini";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const fs::path linkToFifo = dir.Path() / "link.QLM";
    fs::create_symlink(fifo, linkToFifo);
    const fs::path dangling = dir.Path() / "dangling.QLM";
    fs::create_symlink(dir.Path() / "gone", dangling);

    struct TCase {
        fs::path path;
        std::string expected;
    };
    const TCase cases[] = {
        {fifo, "通常のファイルではありません（名前付きパイプ）"},
        {linkToFifo, "通常のファイルではありません（名前付きパイプ）"},
        {"/dev/null", "通常のファイルではありません（デバイス）"},
        {"/dev/zero", "通常のファイルではありません（デバイス）"},
        {folder, "通常のファイルではありません（フォルダー）"},
        {socketPath, "通常のファイルではありません（ソケット）"},
    };
    const auto started = std::chrono::steady_clock::now();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.path.string());
        const std::u16string path = U16(c.path);
        for (const std::string& message : {
                 ErrorOf([&] { TReadFile file(path); }), ErrorOf([&] { TFileStream stream(path); }),
                 ErrorOf([&] { TIniDocument::FromFile(path); }),  // project files
                 ErrorOf([&] { TConfig().Load(path); }),          // the settings file
             }) {
            EXPECT_NE(message.find(c.expected), std::string::npos) << message;
            EXPECT_NE(message.find(c.path.string()), std::string::npos) << message;
        }
    }
    // A link that leads nowhere is a missing file (which settings and projects may be).
    EXPECT_NE(ErrorOf([&] { TReadFile file(U16(dangling)); }).find("ファイルが見つかりません"),
              std::string::npos);
    // Replacing: a FIFO, a device or a socket is not overwritten either.
    for (const fs::path& target : {fifo, linkToFifo, socketPath}) {
        SCOPED_TRACE(target.string());
        EXPECT_NE(
            ErrorOf([&] { WriteWholeFile(U16(target), "x"); }).find("通常のファイルではありません"),
            std::string::npos);
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    ::close(sock);
}

TEST(FileSeam, PlannedReadFaultsFailTheRead) {
    test::TempDir dir;
    const auto file = dir.Write("a.csv", "abc");
    TFileSystemFaults::Plan(TFileSystemFaults::TPoint::Read, 1, TFileSystemFaults::TEffect::Fail);
    std::string message = ErrorOf([&] {
        TFileStream stream(U16(file));
        char buffer[3];
        stream.Read(buffer, 3);
    });
    TFileSystemFaults::Reset();
    EXPECT_NE(message.find("読み込めません"), std::string::npos) << message;
    TFileSystemFaults::Plan(TFileSystemFaults::TPoint::Read, 1, TFileSystemFaults::TEffect::Fail);
    message = ErrorOf([&] { TReadFile(U16(file)).Map(); });
    TFileSystemFaults::Reset();
    EXPECT_NE(message.find(file.string()), std::string::npos) << message;
}

TEST(FileSeam, AHardLinkedFileIsRefusedAndKeepsBothNames) {
    test::TempDir dir;
    const auto file = dir.Write("book.QLM", "old");
    fs::create_hard_link(file, dir.Path() / "other.QLM");
    const std::string message = ErrorOf([&] { WriteWholeFile(U16(file), "new"); });
    EXPECT_NE(message.find("ハードリンク"), std::string::npos) << message;
    EXPECT_EQ(test::ReadBytes(file), "old");
    EXPECT_EQ(fs::hard_link_count(file), 2u);
    EXPECT_EQ(NamesIn(dir.Path()), (std::set<std::string>{"book.QLM", "other.QLM"}));
}

TEST(FileSeam, TheReplacedFileKeepsOwnerGroupModeAndAttributes) {
    if (::geteuid() != 0) GTEST_SKIP() << "only the superuser may give a file to another user";
    test::TempDir dir;
    const auto file = dir.Write("book.xlsx", "old");
    ASSERT_EQ(::chown(file.c_str(), 12345, 23456), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const bool attributes = ::setxattr(file.c_str(), "user.quillomat-test", "kept", 4, 0) == 0;
    WriteWholeFile(U16(file), "new");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 12345u);
    EXPECT_EQ(st.st_gid, 23456u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(test::ReadBytes(file), "new");
    if (attributes) {
        char value[16] = {};
        EXPECT_EQ(::getxattr(file.c_str(), "user.quillomat-test", value, sizeof value), 4);
        EXPECT_EQ(std::string(value), "kept");
    } else {
        std::printf("extended attributes not supported here: only owner and mode checked\n");
    }
}

// A user who may write another user's file, but not give a file away, is refused rather than
// take the file over.
TEST(FileSeam, AnotherUsersFileIsRefusedWhenItsOwnerCannotBeKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser to act as another user";
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
    const auto file = dir.Write("book.xlsx", "old");
    ASSERT_EQ(::chown(file.c_str(), 12345, 12345), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        const std::string message = ErrorOf([&] { WriteWholeFile(U16(file), "new"); });
        ::_exit(message.find("所有者は別のユーザー") != std::string::npos ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(test::ReadBytes(file), "old");
    EXPECT_EQ(NamesIn(dir.Path()), std::set<std::string>{"book.xlsx"});
}

TEST(FileSeam, ASecondWriterWaitsThenFailsNamingTheFile) {
    test::TempDir dir;
    const auto file = dir.Write("book.xlsx", "old");
    // Another process's lock: a descriptor of our own conflicts with the seam's just the same.
    const fs::path lockFile = dir.Path() / ".book.xlsx.quillomat-lock";
    const int other = ::open(lockFile.c_str(), O_RDONLY | O_CREAT, 0644);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    TTargetLock::SetWaitLimit(std::chrono::milliseconds(300));
    const auto started = std::chrono::steady_clock::now();
    const std::string message = ErrorOf([&] { TTargetLock lock(U16(file), TLockUse::Workbook); });
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(message, Utf16ToUtf8(AnotherImportIsWritingMessage(U16(file))));
    EXPECT_NE(message.find(file.string()), std::string::npos);
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_EQ(test::ErrorOf([&] { WriteWholeFile(U16(file), "new"); }), message);
    EXPECT_EQ(test::ReadBytes(file), "old");

    // Released, the lock is had; LibreOffice's lock file is there while it is held.
    ::close(other);
    {
        TTargetLock lock(U16(file), TLockUse::Workbook);
        const std::string office = test::ReadBytes(dir.Path() / ".~lock.book.xlsx#");
        EXPECT_TRUE(IsQuillomatOfficeLock(office)) << office;
        EXPECT_EQ(office.back(), ';');
        const std::string owner = test::ReadBytes(dir.Path() / "~$book.xlsx");
        EXPECT_EQ(owner.size(), 165u);
        EXPECT_EQ(owner.substr(0, 10), "\x09Quillomat");
        WriteWholeFile(U16(file), "new");  // under the lock this process holds
    }
    TTargetLock::SetWaitLimit(std::chrono::milliseconds(5000));
    EXPECT_EQ(test::ReadBytes(file), "new");
    EXPECT_EQ(NamesIn(dir.Path()), std::set<std::string>{"book.xlsx"});
}

TEST(FileSeam, AnotherProgramsLockFileIsRefusedOursIsNot) {
    test::TempDir dir;
    const auto file = dir.Write("book.xlsx", "old");
    const fs::path office = dir.Path() / ".~lock.book.xlsx#";
    dir.Write(office.filename().string(),
              ",alice,desk,10.12.2026 09:30,file:///home/alice/.config/libreoffice/4;");
    EXPECT_NE(ErrorOf([&] {
                  TTargetLock lock(U16(file), TLockUse::Workbook);
              }).find("他のプログラムで開かれています"),
              std::string::npos);
    // Ones a killed Quillomat left are taken over, and removed afterwards.
    dir.Write(office.filename().string(), QuillomatOfficeLockContent());
    dir.Write("~$book.xlsx", QuillomatExcelOwnerContent());
    { TTargetLock lock(U16(file), TLockUse::Workbook); }
    EXPECT_EQ(NamesIn(dir.Path()), std::set<std::string>{"book.xlsx"});
    // Excel's owner file of a user.
    std::string owner = QuillomatExcelOwnerContent();
    owner.replace(1, 9, "Somebody1");
    dir.Write("~$book.xlsx", owner);
    EXPECT_NE(ErrorOf([&] {
                  TTargetLock lock(U16(file), TLockUse::Target);
              }).find("他のプログラムで開かれています"),
              std::string::npos);

    // Access's lock file beside a database, and the one a database writer of ours leaves.
    const auto database = dir.Write("db.accdb", "old");
    dir.Write("db.laccdb", QuillomatDatabaseLockContent());
    { TTargetLock lock(U16(database), TLockUse::Target); }
    std::string access = QuillomatDatabaseLockContent();
    access.replace(0, 9, "OFFICE-PC");
    dir.Write("db.laccdb", access);
    const std::string refused = ErrorOf([&] { TTargetLock lock(U16(database), TLockUse::Target); });
    EXPECT_NE(refused.find("データベースは他のプログラムで開かれています"), std::string::npos)
        << refused;
}

TEST(FileSeam, StaleFilesOfDeadWritersGoLiveOnesStay) {
    test::TempDir dir;
    const auto file = dir.Write("book.xlsx", "old");
    const std::string dead = ".book.xlsx.quillomat-" + std::to_string(DeadPid()) + "-Ab12Cd";
    const std::string live = ".book.xlsx.quillomat-" + std::to_string(::getppid()) + "-Ab12Cd";
    dir.Write(dead, "partial");
    dir.Write(live, "being written");
    dir.Write(".book.xlsx.quillomat-lock", "");
    dir.Write(".~lock.book.xlsx#", QuillomatOfficeLockContent());
    dir.Write("~$book.xlsx", QuillomatExcelOwnerContent());
    dir.Write(".other.xlsx.quillomat-1-Ab12Cd", "not this target's");
    RemoveStaleTemporaryFiles(U16(file));
    EXPECT_EQ(NamesIn(dir.Path()),
              (std::set<std::string>{"book.xlsx", live, ".other.xlsx.quillomat-1-Ab12Cd"}));

    // A temporary file that its writer holds stays even when its name's process is gone.
    dir.Write(dead, "partial");
    const int held = ::open((dir.Path() / dead).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    RemoveStaleTemporaryFiles(U16(file));
    EXPECT_TRUE(fs::exists(dir.Path() / dead));
    ::close(held);
}

// A commit that patches a copy of the file: the copy is of the file as it was read, the
// patches land at their offsets, growing it, and a file replaced since it was read is never
// copied (nothing is left beside it). Sequential writes into a patched copy break the protocol.
TEST(FileSeam, APatchedCopyStartsFromTheFileAsItWasRead) {
    test::TempDir dir;
    const auto file = dir.Write("db.accdb", std::string(10000, 'a'));
    const std::u16string path = U16(file.string());
    TFileIdentity read;
    ASSERT_TRUE(CurrentIdentity(file.string(), read));
    TReplaceOptions options;
    options.Expected = &read;
    {
        TAtomicFile out(path, options);
        out.CopyTarget();
        EXPECT_EQ(out.Size(), 10000u);
        out.WriteAt(4096, "XYZ", 3);
        out.Resize(12288);
        out.WriteAt(12000, "end", 3);
        EXPECT_NE(ErrorOf([&] { out.Write("no"); }).find("内部エラー"), std::string::npos);
        out.Commit();
    }
    std::string expected(12288, '\0');
    std::fill_n(expected.begin(), 10000, 'a');
    expected.replace(4096, 3, "XYZ");
    expected.replace(12000, 3, "end");
    EXPECT_TRUE(test::ReadBytes(file) == expected);

    // The file read before that commit is not the file there now.
    const std::string now = test::ReadBytes(file);
    {
        TAtomicFile stale(path, options);
        EXPECT_NE(
            ErrorOf([&] { stale.CopyTarget(); }).find("他のプログラムがファイルを変更しました"),
            std::string::npos);
    }
    EXPECT_TRUE(test::ReadBytes(file) == now);
    EXPECT_EQ(NamesIn(dir.Path()), std::set<std::string>{"db.accdb"});
}

}  // namespace
}  // namespace qm
