// The scan's signature check of one large package against `minisign -Vm` on the same file
// and signature, run alternately; prints the medians and the median of the per-round ratios.
//   signature_bench FOLDER ROUNDS MEGABYTES

#include "bench/support/bench_support.h"
#include "package/package_signature.h"
#include "platform/posix/file_system_posix.h"

#include <sodium.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace offline_upgrade {

namespace {

double Seconds(const std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

} // namespace offline_upgrade

int main(int argc, char **argv)
{
    using namespace offline_upgrade;
    if (argc != 4) {
        std::cerr << "usage: signature_bench FOLDER ROUNDS MEGABYTES\n";
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    const int rounds = std::atoi(argv[2]);
    const size_t megabytes = std::strtoul(argv[3], nullptr, 10);
    StartSodium();

    // Bytes that do not compress, as a package's mostly are.
    const std::string package = folder + "big_5.2.zip";
    {
        std::ofstream out(package, std::ios::binary);
        std::string piece(1 << 20, '\0');
        for (size_t i = 0; i < megabytes; ++i) {
            randombytes_buf(piece.data(), piece.size());
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        }
    }
    const std::string keys =
        "minisign -G -W -p '" + folder + "k.pub' -s '" + folder + "k.key' >/dev/null";
    const std::string sign = "minisign -S -s '" + folder + "k.key' -m '" + package + "' >/dev/null";
    if (std::system(keys.c_str()) != 0 || std::system(sign.c_str()) != 0) {
        std::cerr << "minisign cannot make the key or the signature\n";
        return 1;
    }
    const std::string pub = ReadAll(folder + "k.pub");
    const size_t line = pub.find('\n') + 1;
    const PackageKeyList list = ParsePackageKeys(pub.substr(line));
    const std::string verify = "minisign -Vm '" + package + "' -p '" + folder + "k.pub' -q";

    PosixFileSystem files;
    std::vector<double> ours, theirs, ratios;
    // One round each first, unmeasured: both then read from the same warm cache.
    for (int round = -1; round < rounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        const SignatureCheck check = VerifyPackageSignature(files, package, list);
        const double a = Seconds(start);
        start = std::chrono::steady_clock::now();
        const int code = std::system(verify.c_str());
        const double b = Seconds(start);
        if (!check.Good() || code != 0) {
            std::cerr << "a check failed: " << check.Detail << "; minisign exit " << code << "\n";
            return 1;
        }
        if (round < 0)
            continue;
        ours.push_back(a);
        theirs.push_back(b);
        ratios.push_back(a / b);
        std::printf("round %d: ours %.3f s, minisign -Vm %.3f s, ratio %.2f\n", round + 1, a, b,
                    a / b);
    }
    std::printf("median: ours %.3f s (%.0f MB/s), minisign -Vm %.3f s; median ratio %.2f\n",
                bench::Median(ours), megabytes / bench::Median(ours), bench::Median(theirs),
                bench::Median(ratios));
    return 0;
}
