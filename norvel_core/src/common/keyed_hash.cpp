// SipHash and the per-thread source of fresh map keys.
#include "common/keyed_hash.hpp"

#include <bit>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "common/panic.hpp"

namespace norvel {

namespace {

// A little-endian word of `Word`'s width at `p`, widened to 64 bits.
template <typename Word>
std::uint64_t load_le(const char* p) noexcept {
    Word word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = std::byteswap(word);
    }
    return word;
}

// The `r` < 8 bytes at `p` as a little-endian word. Two overlapping loads
// cover them without a byte loop: the bytes they share land in the same place.
std::uint64_t tail_word(const char* p, std::size_t r) noexcept {
    if (r >= 4)
        return load_le<std::uint32_t>(p) | load_le<std::uint32_t>(p + r - 4) << (8 * (r - 4));
    if (r >= 2)
        return load_le<std::uint16_t>(p) | load_le<std::uint16_t>(p + r - 2) << (8 * (r - 2));
    return r == 0 ? 0 : static_cast<unsigned char>(p[0]);
}

struct SipState {
    std::uint64_t v0, v1, v2, v3;

    void round() noexcept {
        v0 += v1;
        v1 = std::rotl(v1, 13);
        v1 ^= v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = std::rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = std::rotl(v1, 17);
        v1 ^= v2;
        v2 = std::rotl(v2, 32);
    }

    template <int C>
    void absorb(std::uint64_t m) noexcept {
        v3 ^= m;
        for (int i = 0; i < C; ++i) round();
        v0 ^= m;
    }
};

}  // namespace

template <int C, int D>
std::uint64_t siphash(const HashKey& key, std::string_view bytes) noexcept {
    SipState s{
        key.k0 ^ 0x736f6d6570736575ULL,
        key.k1 ^ 0x646f72616e646f6dULL,
        key.k0 ^ 0x6c7967656e657261ULL,
        key.k1 ^ 0x7465646279746573ULL,
    };

    const char* p = bytes.data();
    const std::size_t n = bytes.size();
    const char* const whole_end = p + (n & ~std::size_t{7});
    for (; p != whole_end; p += 8) s.absorb<C>(load_le<std::uint64_t>(p));

    // The last word carries the leftover bytes and the length modulo 256 in its top byte.
    s.absorb<C>(tail_word(p, n & 7) | static_cast<std::uint64_t>(n) << 56);

    s.v2 ^= 0xff;
    for (int i = 0; i < D; ++i) s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

template std::uint64_t siphash<1, 3>(const HashKey&, std::string_view) noexcept;
template std::uint64_t siphash<2, 4>(const HashKey&, std::string_view) noexcept;

std::uint64_t keyed_hash(const HashKey& key, std::string_view bytes) noexcept {
    return siphash<1, 3>(key, bytes);
}

HashKey hash_key_from_bytes(const char* bytes) noexcept {
    return HashKey{load_le<std::uint64_t>(bytes), load_le<std::uint64_t>(bytes + 8)};
}

namespace {

bool read_getrandom([[maybe_unused]] unsigned char* out, [[maybe_unused]] std::size_t len) {
// The system call rather than the libc wrapper, which glibc only gained in
// 2.25: the portable wheels run on older ones.
#ifdef SYS_getrandom
    while (len > 0) {
        const long got = ::syscall(SYS_getrandom, out, len, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;  // ENOSYS on old kernels: try the device instead
        }
        out += got;
        len -= static_cast<std::size_t>(got);
    }
    return true;
#else
    return false;
#endif
}

bool read_urandom(unsigned char* out, std::size_t len) {
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    while (len > 0) {
        const ssize_t got = ::read(fd, out, len);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = false;
            break;
        }
        out += got;
        len -= static_cast<std::size_t>(got);
    }
    ::close(fd);
    return ok;
}

HashKey os_random_key() {
    unsigned char bytes[16];
    if (!read_getrandom(bytes, sizeof bytes) && !read_urandom(bytes, sizeof bytes)) {
        panic("no source of random bytes for hash keys");
    }
    return hash_key_from_bytes(reinterpret_cast<const char*>(bytes));
}

// Keys are SipHash outputs of a counter under a secret per-thread seed: one
// system call per thread, and a key seen by anyone says nothing about the
// seed or about any other key.
class KeyStream {
public:
    HashKey next() noexcept { return HashKey{word(), word()}; }

private:
    std::uint64_t word() noexcept {
        char block[sizeof counter_];
        std::memcpy(block, &counter_, sizeof block);
        ++counter_;
        return keyed_hash(seed_, std::string_view(block, sizeof block));
    }

    HashKey seed_ = os_random_key();
    std::uint64_t counter_ = 0;
};

}  // namespace

HashKey fresh_hash_key() {
    thread_local KeyStream stream;
    return stream.next();
}

}  // namespace norvel
