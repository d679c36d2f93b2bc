#pragma once
// A private PulseAudio server with a null sink (and any other modules asked for): a real, paced
// sound device without a sound card. Clients of this process find it through PULSE_SERVER; it
// is ended by its own process id. Plain C++, for the tests and the benchmarks alike.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace korv::test {

// ALSA's default device through the pulse plugin.
inline constexpr const char* ALSA_PULSE_DEVICE =
    "pcm.!default { type pulse }\nctl.!default { type pulse }\n";

class PulseProcess {
  public:
    // `modules`: more modules to load, each with its arguments ("module-sine-source
    // frequency=1000").
    explicit PulseProcess(std::vector<std::string> modules = {}) : modules_(std::move(modules)) {}
    ~PulseProcess() { stop(); }
    PulseProcess(const PulseProcess&) = delete;
    PulseProcess& operator=(const PulseProcess&) = delete;

    void start() {
        namespace fs = std::filesystem;
        dir_ = fs::temp_directory_path() / ("korv-pulse-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const fs::path socket = dir_ / "native";
        // A client of ours must never start a server of its own that would outlive the test.
        std::ofstream(dir_ / "client.conf") << "autospawn = no\n";
        ::setenv("PULSE_CLIENTCONFIG", (dir_ / "client.conf").c_str(), 1);
        ::setenv("PULSE_SERVER", ("unix:" + socket.string()).c_str(), 1);

        std::vector<std::string> args = {
            "pulseaudio",
            "-n",
            "--daemonize=no",
            "--exit-idle-time=-1",
            "--use-pid-file=no",
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket.string(),
            "--load=module-null-sink"};
        for (const std::string& m : modules_) {
            args.push_back("--load=" + m);
        }
        // The server keeps its runtime files and cookie in the private folder.
        std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + dir_.string(),
                                        "HOME=" + dir_.string()};
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0 &&
                std::strncmp(*e, "HOME=", 5) != 0) {
                env.emplace_back(*e);
            }
        }
        const std::string log = (dir_ / "server.log").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::vector<char*> argv = pointers(args);
        std::vector<char*> envp = pointers(env);
        const int spawned =
            ::posix_spawnp(&pid_, "pulseaudio", &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = 0;
            error_ = std::string("pulseaudio could not be started (") + std::strerror(spawned) +
                     "); scripts/install-deps installs it";
            return;
        }
        // Ready once its socket is there; a server that ends first has failed.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(socket)) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                error_ = "pulseaudio ended at start-up; its log: " + log;
                return;
            }
            if (std::chrono::steady_clock::now() > end) {
                error_ = "pulseaudio made no socket within 10 s; its log: " + log;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (::waitpid(pid_, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > end) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            pid_ = 0;
        }
        if (!dir_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
            dir_.clear();
        }
    }

    [[nodiscard]] bool ready() const { return error_.empty() && pid_ > 0; }
    [[nodiscard]] const std::string& error() const { return error_; }

  private:
    static std::vector<char*> pointers(std::vector<std::string>& strings) {
        std::vector<char*> p;
        for (std::string& s : strings) {
            p.push_back(s.data());
        }
        p.push_back(nullptr);
        return p;
    }

    std::vector<std::string> modules_;
    std::filesystem::path dir_;
    pid_t pid_ = 0;
    std::string error_;
};

} // namespace korv::test
