#include "platform/run_program.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/native_path.h"

extern char** environ;

namespace qm {

std::optional<int> RunProgramAndWait(const std::u16string& path,
                                     const std::vector<std::u16string>& arguments) {
    std::vector<std::string> texts;
    texts.reserve(arguments.size() + 1);
    texts.push_back(ToNativePath(path));
    for (const std::u16string& argument : arguments)
        texts.push_back(ToNativePath(argument));
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    // glibc's posix_spawn reports a program that cannot be executed as its result, so a
    // missing file is told apart from a program that ran and failed.
    pid_t child = 0;
    if (::posix_spawn(&child, texts.front().c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return std::nullopt;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return std::nullopt;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return std::nullopt;
}

}  // namespace qm
