// RowStore: the rows of a result grid, the window's and the headless
// surface's, kept small enough for a grid of millions of messages.
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
// without them. Rows that a reader has taken for good (kalvrin-check's
// output streams them) are released, and their blocks freed.
//
// The encoding loses nothing: every cell and offset reads back as written.
// Not thread-safe; its owner uses it from one thread only. Blocks that
// freeze behind a growing grid are encoded on a worker thread of the store's
// own, one after the other in the order they settled, so that the column
// dictionaries grow as they would on the caller's thread and the encoding
// is the same byte for byte. Until the worker is done with a block it is
// pending: reading or writing it, and everything that reads or changes the
// dictionaries, first waits for the worker and takes over what it made.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin {

// A row's cells as the row store packs them while its block is open:
// column, length (two bytes), text, for each cell that is not empty. Its
// room is kept when it is emptied, and a cell written within it costs a
// test and a copy: a check writes one for each element of every message,
// where a string's resize would fill the room first and its append is a
// call.
class PackedCells {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::size_t capacity() const { return capacity_; }
  const char* data() const { return bytes_.get(); }
  char* data() { return bytes_.get(); }
  operator std::string_view() const { return {bytes_.get(), size_}; }
  void clear() { size_ = 0; }
  // Room for `more` bytes at the end, for the caller to write.
  char* Extend(std::size_t more) {
    if (capacity_ - size_ < more) Reserve(size_ + more);
    char* const at = bytes_.get() + size_;
    size_ += more;
    return at;
  }
  void Append(std::string_view text);
  void Erase(std::size_t at, std::size_t count);

 private:
  void Reserve(std::size_t size);
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

class RowStore {
 public:
  static constexpr int kBlockRows = 64;
  static constexpr int kMaxColumns = 256;              // the packed column number is one byte
  static constexpr std::size_t kMaxCellLength = 0xFFFF;  // longer texts are cut there

  // Where blocks that settle as the grid grows are encoded: on the store's
  // worker thread, or on the caller's (the same bytes, for comparing).
  enum class Freezing { OnWorker, OnCaller };

  explicit RowStore(Freezing freezing = Freezing::OnWorker);
  ~RowStore();  // stops the worker; blocks still queued are dropped with the store
  RowStore(const RowStore&) = delete;
  RowStore& operator=(const RowStore&) = delete;

  int rowCount() const { return rowCount_; }
  int colCount() const { return colCount_; }
  // New rows are empty and hold no message; removed rows are gone for good.
  void setRowCount(int rows);
  // Cells beyond the new count are dropped; columns added later start empty.
  void setColCount(int cols);

  // Rows below `row` are given up for good: they read as empty rows without
  // a message and take no writes, and the blocks they filled are freed; row
  // numbers stay as they were. Cutting the grid below them releases no more
  // than that: rows added again are kept.
  void releaseRowsBelow(int row);
  int firstRow() const { return firstRow_; }  // the first row not released

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
  // The texts of one column, rows first..end-1 in row order: each(row,
  // text), the text valid during the call. A frozen block is read for this
  // column alone, past the bytes of the others, and not kept: sorting two
  // million rows by one column reads them so.
  using CellVisitor = std::function<void(int row, std::string_view text)>;
  void columnCells(int col, int first, int end, const CellVisitor& each) const;
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
  // The encoding of a frozen block; empty for one that is open or empty.
  std::string_view frozenBytes(int block) const;

 private:
  struct OpenRows {
    OpenRows();
    std::array<PackedCells, kBlockRows> rows;
    std::array<std::int64_t, kBlockRows> offsets;
  };
  struct Block {
    std::unique_ptr<OpenRows> open;  // while the block may change
    std::unique_ptr<char[]> frozen;  // else its rows encoded; both null: every row empty
    std::uint32_t frozenSize = 0;
    std::uint16_t encodedCols = 0;  // the columns the encoding's row maps cover
    bool pending = false;  // its rows are with the worker, to be frozen
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

    // The number of `text` among the words, or -1. A text not there yet is
    // added while there is room; a full dictionary rarely hit turns off.
    int Lookup(std::string_view text);
  };
  // One column of a frozen block, rows from..to-1 (grid rows).
  void DecodeColumn(const Block& block, int firstRow, int col, int from, int to, const CellVisitor& each) const;
  struct Decoded {
    int block = -1;
    std::uint64_t lastUse = 0;
    OpenRows rows;
  };

  // Blocks are numbered from the grid's first row; the vector starts at
  // blockBase_, the released blocks before it erased.
  Block& BlockAt(std::size_t block) const { return blocks_[block - blockBase_]; }
  std::size_t EndBlock() const { return blockBase_ + blocks_.size(); }
  bool Released(int row) const { return row < firstRow_; }
  void Empty(std::size_t block);  // frees a released block's rows
  // The packed row and offset, from an open block or the read cache.
  std::string_view PackedRow(int row) const;
  OpenRows& Open(std::size_t block);  // opens a frozen, pending or empty block for writing
  // Freezes an open block, here or, with `handOver`, on the worker.
  void Freeze(std::size_t block, bool handOver = false);
  void FreezeBehind();  // blocks two rows behind the last row, on the worker
  bool Settled(std::size_t block) const { return (block + 1) * kBlockRows + 2 <= static_cast<std::size_t>(rowCount_); }
  // Waits until the worker has frozen every block handed to it and installs
  // them; rethrows what the worker failed with. Only a counter test when
  // nothing was handed over since the last time.
  void Settle() const {
    if (inFlight_ != 0) SettleAll();
  }
  void SettleAll() const;
  struct Frozen;
  // Installs blocks the worker is done with; a block it could not freeze,
  // or whose room here cannot be had, goes back open as it was handed over,
  // for freezeSettled to freeze again. Then throws `error`, or the first
  // failure to install.
  void InstallAll(std::list<Frozen>& arrived, std::exception_ptr error) const;
  void Install(Frozen& frozen) const;
  void SetFrozen(Block& b, std::string_view encoded, std::uint16_t cols, std::unique_ptr<OpenRows>& rows) const;
  bool StartWorker();
  std::unique_ptr<OpenRows> TakeSpare();
  void KeepSpare(std::unique_ptr<OpenRows> rows) const;
  struct BlockEncoder;
  // The block's rows encoded at the start of `out`, which grows as needed,
  // with its first `cols` columns; the encoding's size.
  static std::size_t Encode(std::vector<Dictionary>& dictionaries, std::size_t cols, const OpenRows& rows, int firstRow,
                            std::string& out);
  void Decode(const Block& block, int firstRow, OpenRows& out) const;
  const Decoded& Cached(std::size_t block) const;
  void ForgetCached(std::size_t block);
  void ForgetAllCached();
  void ResetDictionariesIfUnused();

  // Settle, which reads call too, installs what the worker made: the blocks,
  // their count and the spare rows change under a const call, and only there.
  mutable std::vector<Block> blocks_;
  std::size_t blockBase_ = 0;  // the number of blocks_[0]
  int firstRow_ = 0;           // rows below it are released
  int rowCount_ = 0;
  int colCount_ = 0;
  std::size_t nextFreeze_ = 0;            // blocks below it are frozen unless a write opened them
  // Blocks below nextFreeze_ that a write opened, or that the worker gave
  // back unfrozen when it failed.
  mutable std::vector<std::size_t> reopened_;
  mutable std::size_t frozenBlocks_ = 0;
  // One per column. While blocks are with the worker, only the worker
  // touches them: whatever reads or changes them settles first.
  std::vector<Dictionary> dictionaries_;
  // Frozen blocks' open rows, emptied for the next blocks to open; their
  // strings keep their room.
  mutable std::vector<std::unique_ptr<OpenRows>> spares_;
  // Hand-overs' records, with the room the worker encoded in.
  mutable std::list<Frozen> spareJobs_;
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
  // Blocks handed to the worker and not yet installed; counted on this
  // thread only, so that Settle costs no lock when it is zero.
  mutable std::size_t inFlight_ = 0;
  class Worker;
  std::unique_ptr<Worker> worker_;  // started with the first block handed over
  Freezing freezing_;
};

}  // namespace kalvrin
