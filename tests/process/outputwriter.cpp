// A stand-in console tool for the runner's tests and benchmarks. It works through its
// arguments in order, each an action:
//   bytes N            N bytes 'a'..'z' without a line break, in one write
//   lines N LEN        N lines of LEN bytes each, the last byte '\n', in one write
//   progress N         N progress lines ending in '\r', in one write
//   hex HEX            the given bytes, in one write
//   err HEX            the given bytes, written to standard error
//   sleep MS           pause
//   flood MB           MB megabytes of 100-byte lines, in 64 KiB writes
//   ignore-term        ignore SIGTERM from here on (inherited by a grandchild)
//   grandchild         start a grandchild that sleeps 30 s; print "pids SELF GRANDCHILD\n"
//   abort              abort()
//   exit CODE          exit with CODE
//   echo-args ARG...   print each remaining argument's bytes in hex, one per line, and exit
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static void writeAll(const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            std::exit(90);
        done += static_cast<size_t>(n);
    }
}

static void sleepMs(long ms)
{
    timespec delay{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0) {
    }
}

static std::string hex(const char *text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        out += digits[*p >> 4];
        out += digits[*p & 15];
    }
    return out;
}

static std::string unhex(const char *text)
{
    std::string out;
    for (size_t i = 0; text[i] && text[i + 1]; i += 2)
        out += static_cast<char>(std::stoi(std::string(text + i, 2), nullptr, 16));
    return out;
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string action = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : "0";
        if (action == "bytes") {
            std::string data;
            for (long n = 0; n < std::atol(next); ++n)
                data += static_cast<char>('a' + n % 26);
            writeAll(data);
            ++i;
        } else if (action == "lines") {
            const long count = std::atol(next);
            const long length = std::atol(i + 2 < argc ? argv[i + 2] : "1");
            std::string data;
            for (long n = 0; n < count; ++n)
                data += std::string(length - 1, static_cast<char>('A' + n % 26)) + '\n';
            writeAll(data);
            i += 2;
        } else if (action == "progress") {
            std::string data;
            for (long n = 0; n < std::atol(next); ++n)
                data += "frame=" + std::to_string(n) + " time=" + std::to_string(n) + ".00\r";
            writeAll(data);
            ++i;
        } else if (action == "hex") {
            writeAll(unhex(next));
            ++i;
        } else if (action == "err") {
            const std::string bytes = unhex(next);
            if (write(STDERR_FILENO, bytes.data(), bytes.size()) !=
                static_cast<ssize_t>(bytes.size()))
                return 91;
            ++i;
        } else if (action == "sleep") {
            sleepMs(std::atol(next));
            ++i;
        } else if (action == "flood") {
            std::string block;
            while (block.size() + 100 <= 65536)
                block += std::string(99, 'f') + '\n';
            const long long total = std::atoll(next) * 1000000LL;
            for (long long sent = 0; sent < total; sent += static_cast<long long>(block.size()))
                writeAll(block.substr(0, std::min<long long>(block.size(), total - sent)));
            ++i;
        } else if (action == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (action == "grandchild") {
            const pid_t child = fork();
            if (child == 0) {
                sleepMs(30000);
                _exit(0);
            }
            writeAll("pids " + std::to_string(getpid()) + ' ' + std::to_string(child) + '\n');
        } else if (action == "abort") {
            std::abort();
        } else if (action == "exit") {
            return std::atoi(next);
        } else if (action == "echo-args") {
            for (int a = i + 1; a < argc; ++a)
                writeAll(hex(argv[a]) + '\n');
            return 0;
        } else {
            std::fprintf(stderr, "outputwriter: unknown action %s\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
