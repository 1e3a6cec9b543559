// Sorting a result grid's rows by one column.
#include "grid/row_order.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "grid/row_store.h"

namespace kalvrin {

namespace {

// A pass compares this much of each text; texts that tie over it and go on
// are compared again over the next piece, the tied rows alone, so that a
// pass holds at most one window of text a row.
constexpr std::size_t kWindow = 64;
constexpr std::size_t kShortNumber = 19;  // digits that always fit 64 bits
constexpr std::size_t kMajorBytes = 7;    // a text's first bytes, below the kind
constexpr std::size_t kMinorBytes = 8;
constexpr std::ptrdiff_t kKeysForTwoThreads = 1 << 16;  // fewer sort faster than a thread starts

enum class Kind : std::uint8_t { Number, Text, Empty };  // the order of the kinds, ascending

// Most keys differ in `major` or `minor`, so that most comparisons are one
// or two of integers.
struct Key {
  std::uint64_t major = 0;  // the kind in the top byte, then a number's length or a text's first bytes
  std::uint64_t minor = 0;  // a short number's value, or the window's next bytes
  std::size_t rest = 0;     // where the window's other bytes start in the pass's text
  std::uint32_t length = 0;  // of the whole text compared (a number's without its leading zeros)
  std::uint16_t restLength = 0;
  Kind kind = Kind::Empty;
  int row = 0;
};

bool IsNumber(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What is compared of a cell: a number without its leading zeros, so that
// numbers of the same length compare by value byte by byte.
std::string_view Compared(std::string_view text, Kind& kind) {
  if (text.empty()) {
    kind = Kind::Empty;
    return text;
  }
  if (!IsNumber(text)) {
    kind = Kind::Text;
    return text;
  }
  kind = Kind::Number;
  const std::size_t zeros = std::min(text.find_first_not_of('0'), text.size());
  return text.substr(zeros);
}

// `count` bytes of `text` from `from` as a big-endian number, padded with zeros.
std::uint64_t BigEndian(std::string_view text, std::size_t from, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    value = (value << 8) | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0U);
  }
  return value;
}

// Reads each row's cell once, in row order, and keys it over the window at `offset`.
class Pass {
 public:
  Pass(const RowStore& store, int col, const ShownCell& shown, std::size_t offset)
      : store_(store), col_(col), shown_(shown), offset_(offset) {}

  void key(Key& row) { key(row, store_.cell(col_, row.row)); }

  void key(Key& key, std::string_view text) {
    if (shown_) text = shown_(text, room_);
    const std::string_view compared = Compared(text, key.kind);
    key.length = static_cast<std::uint32_t>(compared.size());
    const std::string_view window = compared.substr(std::min(offset_, compared.size()), kWindow);
    std::size_t restFrom = window.size();
    switch (key.kind) {
      case Kind::Empty:
        key.major = std::uint64_t{2} << 56;
        key.minor = 0;
        break;
      case Kind::Number:
        // Numbers of one length compare by value: the short ones as one, the long ones by their digits.
        key.major = compared.size();
        if (compared.size() <= kShortNumber) {
          key.minor = 0;
          for (const char digit : compared) key.minor = key.minor * 10 + static_cast<std::uint64_t>(digit - '0');
        } else {
          key.minor = BigEndian(window, 0, kMinorBytes);
          restFrom = kMinorBytes;
        }
        break;
      case Kind::Text:
        key.major = (std::uint64_t{1} << 56) | BigEndian(window, 0, kMajorBytes);
        key.minor = BigEndian(window, kMajorBytes, kMinorBytes);
        restFrom = kMajorBytes + kMinorBytes;
        break;
    }
    const std::string_view rest = window.size() > restFrom ? window.substr(restFrom) : std::string_view();
    key.rest = texts_.size();
    key.restLength = static_cast<std::uint16_t>(rest.size());
    texts_.append(rest);
  }

  // <0, 0 or >0 as `a` comes before, ties with or comes after `b` ascending,
  // over this pass's window; 0 also where both go on past it.
  int compare(const Key& a, const Key& b) const {
    if (a.major != b.major) return a.major < b.major ? -1 : 1;
    if (a.minor != b.minor) return a.minor < b.minor ? -1 : 1;
    const std::uint16_t shorter = std::min(a.restLength, b.restLength);
    if (const int c = shorter == 0 ? 0 : std::memcmp(texts_.data() + a.rest, texts_.data() + b.rest, shorter); c != 0) {
      return c;
    }
    if (a.restLength != b.restLength) return a.restLength < b.restLength ? -1 : 1;
    if (goesOn(a) && goesOn(b)) return 0;
    return a.length == b.length ? 0 : (a.length < b.length ? -1 : 1);
  }

  bool goesOn(const Key& key) const { return key.length > offset_ + kWindow; }

 private:
  const RowStore& store_;
  int col_;
  const ShownCell& shown_;
  std::size_t offset_;
  std::string texts_;
  std::string room_;
};

// Sorts [first, last). A range of many keys is sorted in two halves at
// once, one on a thread of its own, and the halves merged: a sort of
// millions of rows is waited for. `less` only reads, and orders every pair
// (ties are broken by row), so the halves merge into the one order.
template <typename Less>
void SortRange(std::vector<Key>::iterator first, std::vector<Key>::iterator last, const Less& less) {
  const auto middle = first + (last - first) / 2;
  std::thread half;
  if (last - first >= kKeysForTwoThreads && std::thread::hardware_concurrency() > 1) {
    try {
      half = std::thread([&less, first, middle] { std::sort(first, middle, less); });
    } catch (const std::system_error&) {
      // no thread to be had: one sort does it all
    }
  }
  if (!half.joinable()) {
    std::sort(first, last, less);
    return;
  }
  std::sort(middle, last, less);
  half.join();
  std::inplace_merge(first, middle, last, less);
}

// Sorts keys[from, to) over the window at `offset`, then each run of rows
// that still tie and go on, over the windows after it.
void SortKeys(const RowStore& store, int col, const ShownCell& shown, SortDirection direction, std::vector<Key>& keys,
              std::size_t from, std::size_t to, std::size_t offset) {
  std::vector<std::pair<std::size_t, std::size_t>> runs{{from, to}};
  std::vector<std::pair<std::size_t, std::size_t>> next;
  const bool descending = direction == SortDirection::Descending;
  for (; !runs.empty(); offset += kWindow, runs.swap(next), next.clear()) {
    for (const auto& [begin, end] : runs) {
      Pass pass(store, col, shown, offset);
      // The run is in row order (ties are broken by row), so the store is read forwards;
      // the first run holds every row, one after the other, and is read as a column.
      if (offset == 0) {
        const int firstRow = keys[begin].row;
        Key* const firstKey = &keys[begin];  // a lambda takes no structured binding in every compiler
        store.columnCells(col, firstRow, keys[end - 1].row + 1, [&](int row, std::string_view text) {
          pass.key(firstKey[row - firstRow], text);
        });
      } else {
        for (std::size_t i = begin; i < end; ++i) pass.key(keys[i]);
      }
      SortRange(keys.begin() + static_cast<std::ptrdiff_t>(begin), keys.begin() + static_cast<std::ptrdiff_t>(end),
                [&](const Key& a, const Key& b) {
                  int c = pass.compare(a, b);
                  // Empty cells stay last; the rest turn round.
                  if (descending && a.kind != Kind::Empty && b.kind != Kind::Empty) c = -c;
                  return c != 0 ? c < 0 : a.row < b.row;
                });
      for (std::size_t i = begin; i < end;) {
        std::size_t j = i + 1;
        while (j < end && pass.goesOn(keys[i]) && pass.compare(keys[i], keys[j]) == 0) ++j;
        if (j - i > 1) next.emplace_back(i, j);
        i = j;
      }
    }
  }
}

}  // namespace

std::vector<int> SortRows(const RowStore& store, int col, int first, int end, SortDirection direction,
                          const ShownCell& shown) {
  first = std::max(first, 0);
  end = std::min(end, store.rowCount());
  if (end <= first) return {};
  std::vector<Key> keys(static_cast<std::size_t>(end - first));
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i].row = first + static_cast<int>(i);
  SortKeys(store, col, shown, direction, keys, 0, keys.size(), 0);
  std::vector<int> rows(keys.size());
  std::transform(keys.begin(), keys.end(), rows.begin(), [](const Key& key) { return key.row; });
  return rows;
}

}  // namespace kalvrin
