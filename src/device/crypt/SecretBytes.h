#pragma once
// Bytes of a key or a secret: held in memory only and wiped when they go.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace corvello {

class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}
    explicit SecretBytes(std::string_view text) : bytes_(text.begin(), text.end()) {}
    ~SecretBytes() { wipe(); }
    SecretBytes(const SecretBytes& other) : bytes_(other.bytes_) {}
    SecretBytes& operator=(const SecretBytes& other) {
        if (this != &other) {
            wipe();
            bytes_ = other.bytes_;
        }
        return *this;
    }
    SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.bytes_.clear(); }
    SecretBytes& operator=(SecretBytes&& other) noexcept {
        if (this != &other) {
            wipe();
            bytes_ = std::move(other.bytes_);
            other.bytes_.clear();
        }
        return *this;
    }

    // Overwrites the bytes with zeros (in a way the compiler keeps) and empties the holder.
    void wipe();
    void resize(std::size_t n);

    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    std::span<const std::uint8_t> span() const { return bytes_; }
    std::span<const std::uint8_t> first(std::size_t n) const { return span().first(n); }
    std::span<const std::uint8_t> subspan(std::size_t at, std::size_t n) const { return span().subspan(at, n); }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace corvello
