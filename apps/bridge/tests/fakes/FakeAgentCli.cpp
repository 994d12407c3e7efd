// A stand-in for the claude and codex programs in tests. It replays a transcript script and records how
// it was run. Usage (through a wrapper named like the real program):
//
//     fake-agent-cli DIR [the arguments the bridge passed...]
//
// Each run takes the next number n (1, 2, ...), records into DIR/run-n/: "argv" (one argument per line),
// "cwd", "env" (NAME=VALUE lines), "pid", "stdin" (every line read, as read) and "child.pid", and plays
// DIR/script-n.txt, or DIR/script.txt when there is none. Script lines:
//
//     out TEXT        TEXT and a newline on standard output ("{cwd}" becomes the working directory)
//     part TEXT       TEXT without a newline (a line cut off in the middle)
//     err TEXT        TEXT on standard error
//     read-line       read one line of standard input
//     read-eof        read standard input until it is closed
//     await ID        read lines until a control_response for request ID; it decides "allow"/"deny"
//     answer ID       read lines until a JSON-RPC response to our request ID; "decision":"accept" allows,
//                     anything else denies
//     expect TEXT     read one line; exit with 6 unless it contains TEXT
//     read-until TEXT read lines until one contains TEXT
//     allow: LINE     run LINE only when the last decision allowed, "deny: LINE" only when it denied
//     write PATH TEXT write TEXT (and a newline) to PATH below the working directory
//     keep FLAG NAME  copy the file named after each FLAG argument into the run folder as NAME-1, NAME-2...
//     ignore-term     ignore SIGTERM from now on
//     spawn-child     start a child process that waits forever (in the same process group)
//     hang            wait forever
//     exit CODE       exit with CODE
// Blank lines and lines starting with '#' are skipped. The end of the script exits with 0.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

std::string runDir;
std::string decision = "none";
std::vector<std::string> arguments;

void record(const std::string &name, const std::string &text, bool append = false) {
    std::ofstream out(runDir + "/" + name, append ? std::ios::app : std::ios::trunc);
    out << text;
}

bool readLine(std::string &line) {
    if (!std::getline(std::cin, line))
        return false;
    record("stdin", line + "\n", true);
    return true;
}

std::string replaceAll(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A JSON-RPC response (a line with "result" or "error" and no "method") to request `id`.
bool isResponseTo(const std::string &line, const std::string &id) {
    if (line.find("\"method\"") != std::string::npos ||
        (line.find("\"result\"") == std::string::npos && line.find("\"error\"") == std::string::npos))
        return false;
    const std::string key = "\"id\":" + id;
    for (size_t at = line.find(key); at != std::string::npos; at = line.find(key, at + 1)) {
        const char next = at + key.size() < line.size() ? line[at + key.size()] : '\0';
        if (next == ',' || next == '}')
            return true;
    }
    return false;
}

[[noreturn]] void waitForever() {
    for (;;)
        pause();
}

void run(const std::string &line, const std::string &cwd) {
    const size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (verb == "allow:" || verb == "deny:") {
        if (decision + ":" == verb)
            run(rest, cwd);
    } else if (verb == "out") {
        std::cout << replaceAll(rest, "{cwd}", cwd) << '\n' << std::flush;
    } else if (verb == "part") {
        std::cout << rest << std::flush;
    } else if (verb == "err") {
        std::cerr << rest << '\n' << std::flush;
    } else if (verb == "read-line") {
        std::string input;
        if (!readLine(input))
            std::exit(3);
    } else if (verb == "read-eof") {
        std::string input;
        while (readLine(input)) {
        }
    } else if (verb == "await") {
        std::string input;
        while (readLine(input)) {
            if (input.find("control_response") != std::string::npos &&
                input.find("\"" + rest + "\"") != std::string::npos) {
                decision = input.find("\"behavior\":\"allow\"") != std::string::npos ? "allow" : "deny";
                return;
            }
        }
        std::exit(4);
    } else if (verb == "answer") {
        std::string input;
        while (readLine(input)) {
            if (isResponseTo(input, rest)) {
                decision = input.find("\"decision\":\"accept\"") != std::string::npos ? "allow" : "deny";
                return;
            }
        }
        std::exit(4);
    } else if (verb == "expect") {
        std::string input;
        if (!readLine(input) || input.find(rest) == std::string::npos) {
            std::cerr << "fake agent: expected a line with " << rest << ", read: " << input << '\n';
            std::exit(6);
        }
    } else if (verb == "read-until") {
        std::string input;
        while (readLine(input))
            if (input.find(rest) != std::string::npos)
                return;
        std::exit(4);
    } else if (verb == "write") {
        const size_t split = rest.find(' ');
        std::ofstream out(cwd + "/" + rest.substr(0, split));
        out << (split == std::string::npos ? std::string() : rest.substr(split + 1)) << '\n';
    } else if (verb == "keep") {
        const size_t split = rest.find(' ');
        const std::string flag = rest.substr(0, split), name = rest.substr(split + 1);
        int kept = 0;
        for (size_t i = 0; i + 1 < arguments.size(); ++i) {
            if (arguments[i] != flag)
                continue;
            std::ifstream in(arguments[i + 1], std::ios::binary);
            std::ofstream out(runDir + "/" + name + "-" + std::to_string(++kept), std::ios::binary);
            out << in.rdbuf();
        }
    } else if (verb == "ignore-term") {
        std::signal(SIGTERM, SIG_IGN);
    } else if (verb == "spawn-child") {
        const pid_t child = fork();
        if (child == 0) {
            std::signal(SIGTERM, SIG_IGN);
            waitForever();
        }
        record("child.pid", std::to_string(child));
    } else if (verb == "hang") {
        waitForever();
    } else if (verb == "exit") {
        std::exit(std::atoi(rest.c_str()));
    } else {
        std::cerr << "fake agent: unknown script line: " << line << '\n';
        std::exit(5);
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::cerr << "usage: fake-agent-cli DIR [ARG...]\n";
        return 2;
    }
    const std::string dir = argv[1];
    int n = 1;
    while (mkdir((dir + "/run-" + std::to_string(n)).c_str(), 0700) != 0) {
        if (errno != EEXIST)
            return 2;
        ++n;
    }
    runDir = dir + "/run-" + std::to_string(n);
    char cwdBuffer[4096] = {};
    const std::string cwd = getcwd(cwdBuffer, sizeof cwdBuffer) ? cwdBuffer : "";
    std::string args;
    for (int i = 2; i < argc; ++i) {
        args += std::string(argv[i]) + "\n";
        arguments.emplace_back(argv[i]);
    }
    record("argv", args);
    record("cwd", cwd);
    std::string environment;
    for (char **entry = environ; *entry; ++entry)
        environment += std::string(*entry) + "\n";
    record("env", environment);
    record("stdin", "");

    std::ifstream script(dir + "/script-" + std::to_string(n) + ".txt");
    if (!script)
        script.open(dir + "/script.txt");
    // The pid last: a test that sees it knows the run is set up.
    record("pid", std::to_string(getpid()));
    std::string line;
    while (std::getline(script, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        run(line, cwd);
    }
    return 0;
}
