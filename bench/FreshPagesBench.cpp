// What a 4K frame's fresh memory costs the capture, the way the capture maps it: 33 MB
// mapped, faulted in, unmapped, again and again with a pause between, in huge pages and in
// small ones. On a virtual machine whose host takes free memory back (virtio-balloon free
// page reporting) freed huge pages come back slowly every few rounds; small pages cost the
// same every time.
//
//   cmake --build --preset release --target fresh_pages_bench
//   build/release/bench/fresh_pages_bench [rounds] [pause ms]   (default 25, 600)
//
// Prints, per kind of page, the milliseconds of each round, then median and maximum.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t frameBytes = std::size_t{3840} * 2160 * 4;
constexpr std::size_t hugePage = std::size_t{2} << 20;

// One round: map, fault in with one call, unmap; the milliseconds until faulted in.
double round(bool hugePages) {
    const std::size_t length = (frameBytes + hugePage - 1) / hugePage * hugePage;
    const auto start = std::chrono::steady_clock::now();
    void* base = mmap(nullptr, length + hugePage, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        std::perror("mmap");
        std::exit(1);
    }
    auto* aligned = reinterpret_cast<std::uint8_t*>(
        (reinterpret_cast<std::uintptr_t>(base) + hugePage - 1) & ~(hugePage - 1));
    madvise(aligned, length, hugePages ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
    if (madvise(aligned, length, MADV_POPULATE_WRITE) != 0) {
        for (std::size_t offset = 0; offset < length; offset += 4096) {
            aligned[offset] = 1;
        }
    }
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    munmap(base, length + hugePage);
    return elapsed.count();
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 25;
    const auto pause = std::chrono::milliseconds(argc > 2 ? std::atoi(argv[2]) : 600);
    for (const bool hugePages : {true, false}) {
        std::vector<double> times;
        std::printf("%-6s", hugePages ? "huge" : "small");
        for (int i = 0; i < rounds; ++i) {
            times.push_back(round(hugePages));
            std::printf(" %.0f", times.back());
            std::fflush(stdout);
            std::this_thread::sleep_for(pause);
        }
        std::sort(times.begin(), times.end());
        std::printf("  | median %.0f max %.0f ms\n", times[times.size() / 2], times.back());
    }
}
