#include "ProgramRunner.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <system_error>

namespace brennix::e2e {

namespace fs = std::filesystem;

const char* const kUsageText =
    "[usage] Modes: -i (info) -a (append col) -p (process all) -n (night vertex)\n"
    "[usage] Modes: -g [mode] (generate col for dff) -g modes: empty, box, mesh\n"
    "[usage] Input: -d [dff file] -c [collision file] (col ver3) -o [output file]\n"
    "[usage] Example (append col to dff):  brennix.exe -a -d MyHouse.dff -c MyHouse.col -o "
    "MyHouseC.dff\n"
    "[usage] Example (show info for dff):  brennix.exe -i -d MyHouse.dff\n"
    "[usage] Example (generate empty col): brennix.exe -g empty -d MyHouse.dff -o MyHouse.col\n"
    "[usage] Example (import NVC from -n): brennix.exe -v -d MyHouseDT.dff -n MyHouseNT.dff -o "
    "MyHouseNVC.dff\n"
    "[usage] Example (all in current dir): brennix.exe -p (process *.dff in cwd and attach "
    "*.col)\n";

namespace {

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string ProgramPath() {
    std::string path = EnvOrEmpty("BRENNIX_E2E_EXE");
    if (path.empty())
        path = BRENNIX_EXE;
    // The child changes directory before it starts the program.
    return fs::absolute(path).string();
}

std::string StripCarriageReturns(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

double Now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

bool UsesLauncher() {
    return !EnvOrEmpty("BRENNIX_E2E_RUNNER").empty();
}

bool TargetsWindows() {
    std::string extension = fs::path(ProgramPath()).extension().string();
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".exe";
}

RunResult RunProgram(const fs::path& workDir, const std::vector<std::string>& args,
                     const std::string& argv0, int timeoutSeconds) {
    RunResult result;
    const std::string program = ProgramPath();
    const std::string launcher = EnvOrEmpty("BRENNIX_E2E_RUNNER");
    const std::string dir = workDir.string();

    // Everything the child needs is prepared before fork.
    std::vector<std::string> argvStrings;
    if (!launcher.empty()) {
        argvStrings.push_back(launcher);
        argvStrings.push_back(program);
    } else {
        argvStrings.push_back(argv0.empty() ? program : argv0);
    }
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings)
        argv.push_back(&s[0]);
    argv.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        result.problem = "pipe failed";
        return result;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        result.problem = "pipe failed";
        return result;
    }

    const pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        result.problem = "fork failed";
        return result;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        int nullFd = open("/dev/null", O_RDONLY);
        if (nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(outPipe[1], 1) < 0 ||
            dup2(errPipe[1], 2) < 0 || chdir(dir.c_str()) != 0) {
            _exit(126);
        }
        if (!launcher.empty()) {
            execvp(launcher.c_str(), argv.data());
        } else {
            execv(program.c_str(), argv.data());
        }
        _exit(127);
    }

    close(outPipe[1]);
    close(errPipe[1]);
    const double deadline = Now() + timeoutSeconds;
    bool outOpen = true;
    bool errOpen = true;
    bool timedOut = false;
    char buffer[65536];
    while (outOpen || errOpen) {
        struct pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                                {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        const double left = deadline - Now();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        int ready = poll(fds, 2, static_cast<int>(left * 1000) + 1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                (i == 0 ? outOpen : errOpen) = false;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
        }
    }
    if (timedOut)
        kill(pid, SIGKILL);
    close(outPipe[0]);
    close(errPipe[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut) {
        result.problem = "killed after " + std::to_string(timeoutSeconds) + " s";
    } else if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
        if (result.exitStatus == 126)
            result.problem = "could not prepare the child";
        if (result.exitStatus == 127)
            result.problem = "could not start " + argvStrings[0];
    } else if (WIFSIGNALED(status)) {
        result.problem = "ended by signal " + std::to_string(WTERMSIG(status));
    }
    if (!launcher.empty()) {
        result.out = StripCarriageReturns(result.out);
        result.err = StripCarriageReturns(result.err);
    }
    return result;
}

Tree SnapshotTree(const fs::path& root) {
    Tree tree;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string name = path.lexically_relative(root).generic_string();
        const fs::file_status status = fs::symlink_status(path);
        std::string tag;
        if (fs::is_symlink(status)) {
            tag = "<link> " + fs::read_symlink(path).string();
        } else if (fs::is_directory(status)) {
            tag = "<dir>";
        } else {
            tree[name] = test::ReadFile(path.string());
            continue;
        }
        tree[name] = Bytes(tag.begin(), tag.end());
    }
    return tree;
}

std::string DescribeDifference(const Tree& before, const Tree& after) {
    std::ostringstream os;
    for (const auto& [name, bytes] : before) {
        auto it = after.find(name);
        if (it == after.end()) {
            os << "removed: " << name << "\n";
        } else if (it->second != bytes) {
            os << "changed: " << name << " (" << bytes.size() << " -> " << it->second.size()
               << " bytes)\n";
        }
    }
    for (const auto& [name, bytes] : after) {
        if (before.count(name) == 0)
            os << "created: " << name << "\n";
    }
    return os.str();
}

void ProgramTest::SetUp() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("brennix_e2e_") + info->test_suite_name() + "_" + info->name() +
                       "_" + std::to_string(getpid());
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    dir_ = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir_);
    ASSERT_TRUE(fs::create_directories(dir_)) << dir_;
}

void ProgramTest::TearDown() {
    std::error_code ec;
    if (!dir_.empty())
        fs::remove_all(dir_, ec);
}

void ProgramTest::Put(const std::string& name, const Bytes& bytes) {
    ASSERT_TRUE(test::WriteFile((dir_ / name).string(), bytes)) << name;
}

void ProgramTest::Put(const std::string& name, const test::ClumpSpec& model) {
    Put(name, test::BuildModel(model));
}

Bytes ProgramTest::Get(const std::string& name) const {
    return test::ReadFile((dir_ / name).string());
}

bool ProgramTest::Exists(const std::string& name) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(dir_ / name, ec));
}

void ProgramTest::MakeDir(const std::string& name) {
    ASSERT_TRUE(fs::create_directories(dir_ / name)) << name;
}

std::string ProgramTest::MissingDirPath(const std::string& name) {
    if (TargetsWindows())
        return "nodir\\" + name;
    fs::create_symlink(fs::path("nodir") / name, dir_ / name);
    return name;
}

RunResult ProgramTest::Run(const std::vector<std::string>& args, const std::string& argv0) {
    RunResult result = RunProgram(dir_, args, argv0);
    std::string line;
    for (const std::string& arg : args)
        line += " [" + arg + "]";
    EXPECT_EQ(result.problem, "") << "arguments:" << line << "\nstderr: " << result.err;
    EXPECT_EQ(result.exitStatus, 0) << "arguments:" << line << "\nstderr: " << result.err;
    return result;
}

}  // namespace brennix::e2e
