// RowStore: the rows of the window's result grid, kept small enough for a
// grid of millions of messages.
//
// The grid is a table of byte texts (0..65535 bytes a cell; an empty text is
// an empty cell) with one file offset per row. Rows live in blocks of
// kBlockRows. A block that may still change is open: one packed string per
// row (column, two length bytes, text, for each cell that is not empty).
// Once the grid has grown two rows past it (a check writes only its current
// row and the one before, and the rows are encoded for less while they are
// fresh in the cache), a block is frozen: its rows are encoded one after
// the other, each cell against the cell above it (same text, shared
// beginning), as the row's number, as an entry of its column's dictionary
// of frequent texts, or as digits and hexadecimal characters two to a byte.
// A write to a frozen row opens its block again; `freezeSettled` closes it
// once more. Reading a frozen row decodes its block into a small cache of
// recently read blocks; removing columns encodes the frozen blocks again
// without them.
//
// The encoding loses nothing: every cell and offset reads back as written.
// Not thread-safe; the window uses it from its own thread only.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin {

class RowStore {
 public:
  static constexpr int kBlockRows = 64;
  static constexpr int kMaxColumns = 256;              // the packed column number is one byte
  static constexpr std::size_t kMaxCellLength = 0xFFFF;  // longer texts are cut there

  RowStore();
  ~RowStore();
  RowStore(const RowStore&) = delete;
  RowStore& operator=(const RowStore&) = delete;

  int rowCount() const { return rowCount_; }
  int colCount() const { return colCount_; }
  // New rows are empty and hold no message; removed rows are gone for good.
  void setRowCount(int rows);
  // Cells beyond the new count are dropped; columns added later start empty.
  void setColCount(int cols);

  // Writes outside the grid are dropped; reads outside it give empty text.
  void setCell(int col, int row, std::string_view text);
  // Valid until the next call on the store.
  std::string_view cell(int col, int row) const;
  // Every cell of a row, in column order: one text per column.
  std::vector<std::string> row(int row) const;
  // The same without copies, in one pass over the row: cells[col] for the
  // columns `cells` has room for, empty where the row holds nothing. Valid
  // until the next call on the store.
  void rowCells(int row, std::span<std::string_view> cells) const;
  // Every text of a row in one piece, with a few bytes of framing between
  // them: a quick first test of whether the row can hold a text at all.
  // Valid until the next call on the store.
  std::string_view rowBytes(int row) const;

  // Where the row's message starts in the file; -1 (kNoRowOffset) for a row
  // without a message and outside the grid.
  void setOffset(int row, std::int64_t offset);
  std::int64_t offset(int row) const;

  // Freezes the blocks that a write opened again, when the grid has moved
  // two rows past them. Cheap when there are none.
  void freezeSettled();

  // Heap bytes the rows take (blocks, dictionaries and the read cache), an
  // estimate for reports.
  std::size_t bytes() const;

 private:
  struct OpenRows {
    OpenRows();
    std::array<std::string, kBlockRows> rows;  // packed: column, length (two bytes), text
    std::array<std::int64_t, kBlockRows> offsets;
  };
  struct Block {
    std::unique_ptr<OpenRows> open;  // while the block may change
    std::unique_ptr<char[]> frozen;  // else its rows encoded; both null: every row empty
    std::uint32_t frozenSize = 0;
    std::uint16_t encodedCols = 0;  // the columns the encoding's row maps cover
  };
  // Texts that come back often in one column, numbered in order of arrival.
  struct Dictionary {
    static constexpr int kSlotBits = 9;
    static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;  // at least twice the most words
    std::vector<std::string> words;              // at most 255
    // An open-addressed index of the words: 0 for a free slot, else the word's number plus one.
    std::array<std::uint8_t, kSlots> index{};
    std::uint32_t tries = 0;
    std::uint32_t hits = 0;
    bool enabled = true;  // off once full and rarely hit
  };
  struct Decoded {
    int block = -1;
    std::uint64_t lastUse = 0;
    OpenRows rows;
  };

  Block& BlockOf(int row) { return blocks_[static_cast<std::size_t>(row / kBlockRows)]; }
  const Block& BlockOf(int row) const { return blocks_[static_cast<std::size_t>(row / kBlockRows)]; }
  // The packed row and offset, from an open block or the read cache.
  const std::string& PackedRow(int row) const;
  OpenRows& Open(std::size_t block);  // opens a frozen or empty block for writing
  void Freeze(std::size_t block);
  void FreezeBehind();  // blocks two rows behind the last row
  bool Settled(std::size_t block) const { return (block + 1) * kBlockRows + 2 <= static_cast<std::size_t>(rowCount_); }
  // The block's rows encoded at the start of `out`, which grows as needed; the encoding's size.
  std::size_t Encode(const OpenRows& rows, int firstRow, std::string& out);
  void Decode(const Block& block, int firstRow, OpenRows& out) const;
  const Decoded& Cached(std::size_t block) const;
  void ForgetCached(std::size_t block);
  void ForgetAllCached();
  void ResetDictionariesIfUnused();

  std::vector<Block> blocks_;
  int rowCount_ = 0;
  int colCount_ = 0;
  std::size_t nextFreeze_ = 0;            // blocks below it are frozen unless a write opened them
  std::vector<std::size_t> reopened_;     // blocks below nextFreeze_ that a write opened
  std::size_t frozenBlocks_ = 0;
  std::vector<Dictionary> dictionaries_;  // one per column
  std::unique_ptr<OpenRows> spare_;  // a frozen block's open rows, emptied for the next block
  std::string scratch_;
  // The columns the packed row that setCell wrote last holds, so that a
  // text for a column the row does not hold yet is appended without a
  // search. Only setCell adds cells to an open row; a block that is frozen
  // forgets it (hotRow_ -1), and a cell dropped in other ways (rows cut,
  // columns removed) leaves at worst a column marked that is no longer
  // there, which costs setCell a search and nothing more.
  int hotRow_ = -1;
  std::bitset<kMaxColumns> hotColumns_;
  mutable std::array<Decoded, 4> cache_;
  mutable std::uint64_t uses_ = 0;
};

}  // namespace kalvrin
