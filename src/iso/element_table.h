// The 128 data element definitions of the format check and the per-message
// decoding state that goes with each of them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kalvrin {

inline constexpr int kElementCount = 128;

// One element's layout: a fixed length, or the largest length that its LL
// (two digits) or LLL (three digits) prefix may announce.
struct ElementLayout {
  std::int32_t maxLength = 0;
  std::int32_t prefixDigits = 0;
};

namespace element_layout_detail {
struct Span {
  int first;
  int last;
  ElementLayout layout;
};
constexpr ElementLayout Fixed(std::int32_t length) { return {length, 0}; }
constexpr ElementLayout LL(std::int32_t maxLength) { return {maxLength, 2}; }
constexpr ElementLayout LLL(std::int32_t maxLength) { return {maxLength, 3}; }

// Runs of element numbers with the same layout, in element order. These are
// the tool's own lengths: element 2 takes up to 99 characters and element 36
// has a three-digit prefix.
constexpr Span kSpans[] = {
    {1, 1, Fixed(16)},    {2, 2, LL(99)},       {3, 3, Fixed(6)},     {4, 6, Fixed(12)},
    {7, 7, Fixed(10)},    {8, 10, Fixed(8)},    {11, 11, Fixed(6)},   {12, 12, Fixed(12)},
    {13, 14, Fixed(4)},   {15, 15, Fixed(6)},   {16, 18, Fixed(4)},   {19, 21, Fixed(3)},
    {22, 22, Fixed(12)},  {23, 24, Fixed(3)},   {25, 27, Fixed(4)},   {28, 28, Fixed(6)},
    {29, 29, Fixed(3)},   {30, 30, Fixed(24)},  {31, 34, LL(99)},     {35, 35, LL(37)},
    {36, 36, LLL(99)},    {37, 37, Fixed(12)},  {38, 38, Fixed(6)},   {39, 40, Fixed(3)},
    {41, 41, Fixed(16)},  {42, 42, Fixed(15)},  {43, 45, LL(99)},     {46, 46, LLL(204)},
    {47, 48, LLL(999)},   {49, 51, Fixed(3)},   {52, 52, Fixed(8)},   {53, 53, LL(99)},
    {54, 54, LLL(120)},   {55, 55, LLL(255)},   {56, 56, LL(35)},     {57, 57, Fixed(3)},
    {58, 58, LL(11)},     {59, 63, LLL(255)},   {64, 65, Fixed(8)},   {66, 66, LLL(204)},
    {67, 67, Fixed(2)},   {68, 70, Fixed(3)},   {71, 71, Fixed(8)},   {72, 72, LLL(64)},
    {73, 73, Fixed(6)},   {74, 85, Fixed(10)},  {86, 89, Fixed(16)},  {90, 90, Fixed(10)},
    {91, 92, Fixed(3)},   {93, 94, LL(32)},     {95, 95, LL(99)},     {96, 96, LLL(999)},
    {97, 97, Fixed(16)},  {98, 98, Fixed(25)},  {99, 100, LL(11)},    {101, 101, LL(17)},
    {102, 103, LL(28)},   {104, 104, LLL(100)}, {105, 106, Fixed(16)}, {107, 107, Fixed(11)},
    {108, 109, LL(84)},   {110, 110, LL(11)},   {111, 127, LLL(999)}, {128, 128, Fixed(8)},
};

constexpr std::array<ElementLayout, kElementCount + 1> Expand() {
  std::array<ElementLayout, kElementCount + 1> table{};
  for (const Span& span : kSpans) {
    for (int element = span.first; element <= span.last; ++element) table[element] = span.layout;
  }
  return table;
}
}  // namespace element_layout_detail

// The definition table, indexed by element number (index 0 unused).
inline constexpr std::array<ElementLayout, kElementCount + 1> kElementLayouts = element_layout_detail::Expand();

// One element's definition and its decoding state in the current message.
struct ElementDef {
  std::int32_t maxLength = 0;     // fixed length, or the largest a prefix may announce
  std::int32_t length = 0;        // data length in this message: maxLength, or the prefix's value
  std::int32_t taken = 0;         // prefix digits, then data characters, taken so far
  std::int32_t prefixDigits = 0;  // 2 or 3 until the prefix is converted, 0 for a fixed element
  std::int32_t complete = 0;      // read in full, or announced empty
  std::span<char> buffer;         // maxLength characters and a terminating NUL
};

// Elements 1 to 128 with their buffers; the buffers live as long as the table.
class ElementTable {
 public:
  ElementTable();
  ElementTable(const ElementTable&) = delete;
  ElementTable& operator=(const ElementTable&) = delete;

  ElementDef& operator[](int element) { return defs_[static_cast<std::size_t>(element)]; }
  const ElementDef& operator[](int element) const { return defs_[static_cast<std::size_t>(element)]; }

  // Marks the elements of one bitmap present in this message: bit n of
  // `bits` stands for the bitmap's (n+1)-th element (bitmap 0: elements 1 to
  // 64, bitmap 1: 65 to 128). Their buffers and state may then be written,
  // up to the NUL kept after the last character taken.
  void MarkPresent(int bitmap, std::uint64_t bits) { presentBits_[static_cast<std::size_t>(bitmap)] |= bits; }
  // The present elements of one bitmap, as MarkPresent takes them.
  std::uint64_t PresentBits(int bitmap) const { return presentBits_[static_cast<std::size_t>(bitmap)]; }
  bool IsPresent(int element) const {
    const auto bit = static_cast<unsigned>(element - 1);
    return ((presentBits_[bit >> 6] >> (bit & 63)) & 1) != 0;
  }

  // Every element back to its definition: not present, not complete, its
  // buffer maxLength spaces. Only elements marked present are touched: the
  // decoding steps write into no other.
  void Reset();

 private:
  std::vector<char> storage_;
  std::array<ElementDef, kElementCount + 1> defs_{};
  std::array<std::uint64_t, 2> presentBits_{};  // the message's one record of which elements are present
};

}  // namespace kalvrin
