// The candidates' computation. A first read finds which candidates give the
// same byte stream on this file (the bytes present in each part of the file
// and its line ends decide it); a second read feeds one stream per distinct
// byte stream, and each stream's chains (the key's left half, its right
// half, two-key triple DES) as its candidates need them. Causes that change
// only the end (pad-80, right-half, retail) share the left chain. The forms
// over the whole file share their chains up to the trailer, where each goes
// its own way. The streams are split between two threads per chunk.
#include "mac/mac_candidates.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <tuple>
#include <cstring>
#include <future>
#include <map>
#include <memory>
#include <system_error>

#include "mac/des_core.h"
#include "mac/generate_mac.h"
#include "mac/mac_bytes.h"
#include "mac/mac_chains.h"
#include "mac/mac_envelope.h"
#include "mac/wipe.h"

namespace kalvrin {

namespace {

constexpr std::size_t kChunk = std::size_t{1} << 18;
constexpr std::size_t kBlock = 8;

using ByteTable = std::array<std::uint8_t, 256>;

enum class LineEnds : std::uint8_t { Keep, Crlf, Lf, Strip };
enum class KeyKind : std::uint8_t { Left, Right, Ede };
enum class Finish : std::uint8_t { ZeroLeft, ZeroRight, Pad80, Retail };

// What the MAC field's bytes become in a form.
enum class Field : std::uint8_t { Actual, Zeros, Spaces, Skipped };

constexpr ByteTable kIdentity = [] {
  ByteTable table{};
  for (std::size_t b = 0; b < table.size(); ++b) table[b] = static_cast<std::uint8_t>(b);
  return table;
}();

// The file's parts, each a range of offsets.
enum Region { kHead, kBody, kBeforeField, kField, kAfterField, kRegionCount };
struct Geometry {
  std::array<std::int64_t, kRegionCount + 1> at{};  // region r is [at[r], at[r+1])
};

Geometry GeometryOf(const MacFormLayout& layout) {
  Geometry g;
  const std::int64_t size = std::max<std::int64_t>(0, layout.size);
  const std::int64_t trailer = std::clamp<std::int64_t>(layout.trailerStart, 0, size);
  const std::int64_t field = std::min<std::int64_t>(trailer + static_cast<std::int64_t>(kTrailerMacAt), size);
  g.at = {0, std::clamp<std::int64_t>(layout.headerLength, 0, trailer), trailer, field,
          std::min<std::int64_t>(field + static_cast<std::int64_t>(kMacDigits), size), size};
  return g;
}

// A form as parts of the file: which it covers, what it keeps, what its
// MAC field becomes.
struct FormShape {
  std::uint8_t regions;  // bit r: region r is covered
  int keep;              // kVariantKeep's index
  Field field;
};
constexpr std::uint8_t Bits(std::initializer_list<Region> regions) {
  std::uint8_t bits = 0;
  for (const Region r : regions) bits = static_cast<std::uint8_t>(bits | (1U << r));
  return bits;
}
constexpr std::uint8_t kWhole = Bits({kHead, kBody, kBeforeField, kField, kAfterField});
constexpr std::array<FormShape, kMacFormCount> kShapes{{
    {kWhole, 0, Field::Actual},                          // MACALL
    {Bits({kBody}), 1, Field::Actual},                   // MACNHD
    {Bits({kBody}), 2, Field::Actual},                   // MACNSP
    {kWhole, 0, Field::Zeros},                           // MACALL-zeros
    {kWhole, 0, Field::Spaces},                          // MACALL-spaces
    {Bits({kHead, kBody}), 0, Field::Actual},            // MACALL-to-trailer
    {kWhole & ~Bits({kField}), 1, Field::Skipped},       // MACNHD-envelope
    {kWhole & ~Bits({kField}), 2, Field::Skipped},       // MACNSP-envelope
}};
constexpr const FormShape& ShapeOf(MacForm form) { return kShapes[static_cast<std::size_t>(form)]; }
constexpr bool IsWholeFileForm(MacForm form) {
  return form == MacForm::All || form == MacForm::AllZeros || form == MacForm::AllSpaces ||
         form == MacForm::AllToTrailer;
}

// How a candidate computes: the stream's line ends and byte map, the key
// and the last step.
struct Recipe {
  LineEnds lineEnds = LineEnds::Keep;
  MacCause map = MacCause::None;  // None: masked; NoMask: as they are; an EBCDIC cause: its table
  KeyKind key = KeyKind::Left;
  Finish finish = Finish::ZeroLeft;
};

Recipe RecipeOf(MacCause cause, bool sameHalves) {
  Recipe r;
  switch (cause) {
    case MacCause::None: break;
    case MacCause::LineEndsCrlf: r.lineEnds = LineEnds::Crlf; break;
    case MacCause::LineEndsLf: r.lineEnds = LineEnds::Lf; break;
    case MacCause::LineEndsNone: r.lineEnds = LineEnds::Strip; break;
    case MacCause::Ebcdic037:
    case MacCause::Ebcdic500:
    case MacCause::Ebcdic1047:
    case MacCause::NoMask: r.map = cause; break;
    case MacCause::Pad80: r.finish = Finish::Pad80; break;
    case MacCause::RightHalf: r.finish = Finish::ZeroRight; break;
    // under a key of two equal halves, D K2 then E K1 undo each other and
    // triple DES is single DES: the same computation as none
    case MacCause::Retail: r.finish = sameHalves ? Finish::ZeroLeft : Finish::Retail; break;
    case MacCause::TdesCbc: r.key = sameHalves ? KeyKind::Left : KeyKind::Ede; break;
    case MacCause::KeyRight: r.key = sameHalves ? KeyKind::Left : KeyKind::Right; break;
  }
  return r;
}

const ByteTable* MapTable(MacCause map) {
  if (map == MacCause::None) return &kMaskedByte;
  if (map == MacCause::NoMask) return &kIdentity;
  return EbcdicTable(map);
}

// Counts line ends as a stream of bytes goes by.
struct LineEndCounter {
  LineEndCounts counts;
  bool pendingCr = false;
  void Feed(std::uint8_t b) {
    if (b == '\r') {
      if (pendingCr) ++counts.loneCr;
      pendingCr = true;
    } else if (b == '\n') {
      ++(pendingCr ? counts.crlf : counts.loneLf);
      pendingCr = false;
    } else if (pendingCr) {
      ++counts.loneCr;
      pendingCr = false;
    }
  }
  LineEndCounts Finished() const {
    LineEndCounts c = counts;
    if (pendingCr) ++c.loneCr;
    return c;
  }
};

// A line-end cause leaves the masked stream as it is when the file has no
// line end it changes: CR LF to CR LF, a lone CR to LF (both mask alike).
bool ChangesNothing(LineEnds lineEnds, const LineEndCounts& c) {
  switch (lineEnds) {
    case LineEnds::Keep: return true;
    case LineEnds::Crlf: return c.loneCr == 0 && c.loneLf == 0;
    case LineEnds::Lf: return c.crlf == 0;
    case LineEnds::Strip: return c.crlf == 0 && c.loneCr == 0 && c.loneLf == 0;
  }
  return false;
}

// The first read: the bytes present in each region, the MAC field's bytes,
// and the line ends of each whole-file form.
struct Survey {
  std::array<std::array<bool, 256>, kRegionCount> present{};
  std::string field;
  std::array<LineEndCounts, kMacFormCount> lineEnds{};
  bool stopped = false;
};

std::uint8_t FieldByte(Field field, std::uint8_t actual) {
  return field == Field::Zeros ? '0' : field == Field::Spaces ? ' ' : actual;
}

Survey SurveyFile(const CandidateReader& reader, const Geometry& g, const std::function<bool(std::int64_t)>& going) {
  Survey survey;
  LineEndCounter prefix;  // shared by the whole-file forms up to the trailer
  std::array<LineEndCounter, kMacFormCount> tails{};
  bool forked = false;
  auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunk);
  const std::int64_t size = g.at[kRegionCount];
  for (std::int64_t at = 0; at < size;) {
    const std::size_t count = reader(at, buffer.get(), static_cast<std::size_t>(std::min<std::int64_t>(kChunk, size - at)));
    if (count == 0) break;
    for (int r = 0; r < kRegionCount; ++r) {
      const std::int64_t from = std::max(at, g.at[r]);
      const std::int64_t to = std::min(at + static_cast<std::int64_t>(count), g.at[r + 1]);
      auto& present = survey.present[r];
      for (std::int64_t p = from; p < to; ++p) {
        const std::uint8_t b = buffer[p - at];
        present[b] = true;
        if (r == kField) survey.field.push_back(static_cast<char>(b));
        if (r < kBeforeField) {
          prefix.Feed(b);
          continue;
        }
        if (!forked) {
          tails.fill(prefix);
          forked = true;
        }
        for (const MacForm form : {MacForm::All, MacForm::AllZeros, MacForm::AllSpaces}) {
          tails[static_cast<std::size_t>(form)].Feed(r == kField ? FieldByte(ShapeOf(form).field, b) : b);
        }
      }
    }
    at += static_cast<std::int64_t>(count);
    if (going && !going(at)) {
      survey.stopped = true;
      return survey;
    }
  }
  if (!forked) tails.fill(prefix);
  for (const MacForm form : {MacForm::All, MacForm::AllZeros, MacForm::AllSpaces}) {
    survey.lineEnds[static_cast<std::size_t>(form)] = tails[static_cast<std::size_t>(form)].Finished();
  }
  survey.lineEnds[static_cast<std::size_t>(MacForm::AllToTrailer)] = prefix.Finished();
  return survey;
}

// What a stream's bytes are, as far as the survey can tell: two streams with
// the same signature are the same bytes.
struct Signature {
  int unique = -1;  // a line-end cause that changes the file: a stream of its own
  std::vector<std::pair<int, std::string>> parts;
  bool operator<(const Signature& other) const {
    return unique != other.unique ? unique < other.unique : parts < other.parts;
  }
};

Signature SignatureOf(MacForm form, const Recipe& recipe, const Survey& survey, const ByteTable& map) {
  Signature sig;
  const FormShape& shape = ShapeOf(form);
  if (!ChangesNothing(recipe.lineEnds, survey.lineEnds[static_cast<std::size_t>(form)])) {
    sig.unique = static_cast<int>(form) * 4 + static_cast<int>(recipe.lineEnds);
    return sig;
  }
  const KeepTable& keep = kVariantKeep[static_cast<std::size_t>(shape.keep)];
  for (int r = 0; r < kRegionCount; ++r) {
    if ((shape.regions & (1U << r)) == 0) continue;
    std::string part;
    if (r == kField) {
      for (const char c : survey.field) {
        const auto b = FieldByte(shape.field, static_cast<std::uint8_t>(c));
        if (keep[b]) part.push_back(static_cast<char>(map[b]));
      }
      if (!part.empty()) sig.parts.emplace_back(-1, std::move(part));
      continue;
    }
    // byte by byte: absent, dropped, or kept as which byte
    part.assign(512, '\0');
    bool any = false;
    for (std::size_t b = 0; b < 256; ++b) {
      if (!survey.present[r][b]) continue;
      part[2 * b] = keep[b] ? 1 : 2;
      part[2 * b + 1] = keep[b] ? static_cast<char>(map[b]) : '\0';
      any = any || keep[b];
    }
    if (any) sig.parts.emplace_back(r, std::move(part));
  }
  return sig;
}

// One chain of two-key triple DES, E K1 D K2 E K1 per block.
struct EdeChain {
  des_core::Halves value{};
  std::array<std::uint8_t, kBlock> pending{};
  std::size_t pendingCount = 0;

  void Block(const std::uint8_t* data, const CandidateKeys& keys) {
    const des_core::Halves block = des_core::LoadPermuted(data);
    des_core::Halves h{block.left ^ value.left, block.right ^ value.right};
    h = des_core::Rounds<false>(h, keys.left.words);
    h = des_core::Rounds<true>(h, keys.right.words);
    value = des_core::Rounds<false>(h, keys.left.words);
  }
  void Feed(const std::uint8_t* data, std::size_t length, const CandidateKeys& keys) {
    while (length > 0) {
      if (pendingCount == 0 && length >= kBlock) {
        Block(data, keys);
        data += kBlock;
        length -= kBlock;
        continue;
      }
      const std::size_t take = std::min(length, kBlock - pendingCount);
      std::memcpy(pending.data() + pendingCount, data, take);
      pendingCount += take;
      data += take;
      length -= take;
      if (pendingCount == kBlock) {
        Block(pending.data(), keys);
        pendingCount = 0;
      }
    }
  }
  DesBytes Mac(const CandidateKeys& keys) {
    if (pendingCount > 0) {
      std::fill(pending.begin() + static_cast<std::ptrdiff_t>(pendingCount), pending.end(), 0);
      Block(pending.data(), keys);
      pendingCount = 0;
    }
    DesBytes out;
    des_core::StorePermuted(out.data(), value);
    return out;
  }
};

ChainRecord FreshChain() {
  ChainRecord chain{};
  chain[kChainCountOffset] = chain[kChainCountOffset + 1] = '0';
  return chain;
}

// The last block of a single-DES chain with its padding, and the retail
// MAC's last two steps.
DesBytes FinishChain(const ChainRecord& chain, const KeySchedule& schedule, Finish finish, const CandidateKeys& keys) {
  DesBytes value;
  std::memcpy(value.data(), chain.data() + kChainValueOffset, kBlock);
  const std::size_t count = static_cast<std::size_t>(chain[kChainCountOffset] - '0') * 10 +
                            static_cast<std::size_t>(chain[kChainCountOffset + 1] - '0');
  if (count > 0 || finish == Finish::Pad80) {
    DesBytes block{};
    std::memcpy(block.data(), chain.data() + kChainPendingOffset, std::min(count, kBlock - 1));
    if (finish == Finish::Pad80) block[count] = 0x80;
    for (std::size_t i = 0; i < kBlock; ++i) block[i] ^= value[i];
    DesBlock(value, kModeEncrypt, schedule, block);
  }
  if (finish == Finish::Retail) {
    DesBlock(value, kModeDecrypt, keys.right, value);
    DesBlock(value, kModeEncrypt, keys.left, value);
  }
  return value;
}

std::string MacText(const DesBytes& value, bool rightHalf) {
  char text[9];
  BytesToHex(text, value.data() + (rightHalf ? 4 : 0), 4);
  return text;
}

// One distinct byte stream over the file and the chains its candidates need.
struct Stream {
  MacForm form = MacForm::All;
  LineEnds lineEnds = LineEnds::Keep;
  const ByteTable* map = &kMaskedByte;
  const KeepTable* keep = &kVariantKeep[0];
  Field field = Field::Actual;
  std::int64_t begin = 0;
  std::int64_t end = 0;
  std::int64_t fieldBegin = 0;
  std::int64_t fieldEnd = 0;
  bool pendingCr = false;
  bool left = false, right = false, ede = false;
  MacContext leftContext{}, rightContext{};
  ChainRecord leftChain = FreshChain(), rightChain = FreshChain();
  EdeChain edeChain{};
  std::vector<std::uint8_t> out;

  ~Stream() {
    SecureWipe(leftContext);
    SecureWipe(rightContext);
  }

  void Emit(std::uint8_t b) {
    switch (lineEnds) {
      case LineEnds::Keep: out.push_back((*map)[b]); return;
      case LineEnds::Crlf:
      case LineEnds::Lf:
        if (b == '\n' && pendingCr) {
          pendingCr = false;
          return;
        }
        pendingCr = b == '\r';
        if (b == '\r' || b == '\n') {
          if (lineEnds == LineEnds::Crlf) out.push_back((*map)['\r']);
          out.push_back((*map)['\n']);
          return;
        }
        out.push_back((*map)[b]);
        return;
      case LineEnds::Strip:
        if (b != '\r' && b != '\n') out.push_back((*map)[b]);
        return;
    }
  }

  // The stream's bytes from a piece of the file at `at`, into out.
  void Take(const std::uint8_t* raw, std::int64_t at, std::size_t count) {
    out.clear();
    const std::int64_t from = std::max(at, begin);
    const std::int64_t to = std::min(at + static_cast<std::int64_t>(count), end);
    const KeepTable& k = *keep;
    const ByteTable& m = *map;
    for (std::int64_t p = from; p < to;) {
      const bool inField = p >= fieldBegin && p < fieldEnd;
      const std::int64_t stop = inField ? std::min(to, fieldEnd) : p < fieldBegin ? std::min(to, fieldBegin) : to;
      if (inField && field == Field::Skipped) {
        p = stop;
        continue;
      }
      if (lineEnds == LineEnds::Keep && !inField) {
        // the hot loop: most of every stream
        const std::size_t base = out.size();
        out.resize(base + static_cast<std::size_t>(stop - p));
        std::size_t kept = base;
        for (; p < stop; ++p) {
          const std::uint8_t b = raw[p - at];
          out[kept] = m[b];
          kept += k[b];
        }
        out.resize(kept);
        continue;
      }
      for (; p < stop; ++p) {
        const std::uint8_t b = inField ? FieldByte(field, raw[p - at]) : raw[p - at];
        if (k[b]) Emit(b);
      }
    }
  }

  double Cost() const { return (left ? 1.0 : 0.0) + (right ? 1.0 : 0.0) + (ede ? 3.0 : 0.0); }
};

// Feeds each stream's bytes of this piece to its chains, interleaving the
// chains under one key.
void FeedStreams(std::vector<Stream*>& streams, const std::uint8_t* raw, std::int64_t at, std::size_t count,
                 const CandidateKeys& keys) {
  std::vector<ChainFeed> leftFeeds;
  std::vector<ChainFeed> rightFeeds;
  for (Stream* s : streams) {
    s->Take(raw, at, count);
    if (s->out.empty()) continue;
    if (s->left) leftFeeds.push_back({&s->leftChain, &s->leftContext, s->out.data(), s->out.size()});
    if (s->right) rightFeeds.push_back({&s->rightChain, &s->rightContext, s->out.data(), s->out.size()});
    if (s->ede) s->edeChain.Feed(s->out.data(), s->out.size(), keys);
  }
  // the records start with a count of 00 and MacMiddle keeps it in range
  if (!leftFeeds.empty()) MacMiddle(leftFeeds);
  if (!rightFeeds.empty()) MacMiddle(rightFeeds);
}

// The streams in two groups of about equal work, one per thread.
std::array<std::vector<Stream*>, 2> SplitWork(std::vector<Stream*> list) {
  std::array<std::vector<Stream*>, 2> groups;
  std::array<double, 2> load{};
  std::stable_sort(list.begin(), list.end(), [](Stream* a, Stream* b) { return a->Cost() > b->Cost(); });
  for (Stream* s : list) {
    const std::size_t g = load[0] <= load[1] ? 0 : 1;
    groups[g].push_back(s);
    load[g] += s->Cost();
  }
  return groups;
}

// Reads [from, to) once, each piece fed to both groups, the second on a
// thread of its own when one can be had.
bool FeedRange(const CandidateReader& reader, std::int64_t from, std::int64_t to, const std::vector<Stream*>& streams,
               const CandidateKeys& keys, const std::function<bool(std::int64_t)>& going, std::uint8_t* buffer) {
  auto groups = SplitWork(streams);
  for (std::int64_t at = from; at < to;) {
    const std::size_t count = reader(at, buffer, static_cast<std::size_t>(std::min<std::int64_t>(kChunk, to - at)));
    if (count == 0) return true;
    std::future<void> other;
    if (!groups[1].empty()) {
      try {
        other = std::async(std::launch::async, [&] { FeedStreams(groups[1], buffer, at, count, keys); });
      } catch (const std::system_error&) {
        FeedStreams(groups[1], buffer, at, count, keys);
      }
    }
    FeedStreams(groups[0], buffer, at, count, keys);
    if (other.valid()) other.get();
    at += static_cast<std::int64_t>(count);
    if (going && !going(at)) return false;
  }
  return true;
}

// A stream's own part of the file once the whole-file forms have parted.
void PlaceStream(Stream& s, MacForm form, const Geometry& g) {
  const FormShape& shape = ShapeOf(form);
  s.form = form;
  s.keep = &kVariantKeep[static_cast<std::size_t>(shape.keep)];
  s.field = shape.field;
  s.begin = (shape.regions & (1U << kHead)) != 0 ? 0 : g.at[kBody];
  s.end = (shape.regions & (1U << kAfterField)) != 0 ? g.at[kRegionCount] : g.at[kBeforeField];
  s.fieldBegin = g.at[kField];
  s.fieldEnd = g.at[kAfterField];
}

struct Computation {
  int cls;
  KeyKind key;
  Finish finish;
  bool operator<(const Computation& o) const {
    return std::tie(cls, key, finish) < std::tie(o.cls, o.key, o.finish);
  }
};

}  // namespace

const std::array<std::uint8_t, 256>* EbcdicTable(MacCause cause) {
  struct Tables {
    std::array<ByteTable, 3> table{};
    std::array<bool, 3> ok{};
    Tables() {
      const char* names[3] = {"IBM037", "IBM500", "IBM1047"};
      for (std::size_t i = 0; i < 3; ++i) {
        iconv_t cd = iconv_open(names[i], "ISO-8859-1");
        if (cd == reinterpret_cast<iconv_t>(-1)) continue;
        ok[i] = true;
        for (std::size_t b = 0; b < 256 && ok[i]; ++b) {
          char in = static_cast<char>(b);
          char out[4] = {};
          char* inp = &in;
          char* outp = out;
          std::size_t inLeft = 1;
          std::size_t outLeft = sizeof out;
          ok[i] = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1) && outLeft == 3;
          table[i][b] = static_cast<std::uint8_t>(out[0]);
        }
        iconv_close(cd);
      }
    }
  };
  static const Tables tables;
  const std::size_t i = cause == MacCause::Ebcdic037 ? 0 : cause == MacCause::Ebcdic500 ? 1 : 2;
  return tables.ok[i] ? &tables.table[i] : nullptr;
}

bool ReadCandidateKeys(std::string_view keyText, CandidateKeys& keys) {
  if (keyText.size() != 16 && keyText.size() != 32) return false;
  for (const char c : keyText) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  std::array<DesBytes, 2> halves{};
  WipeGuard<std::array<DesBytes, 2>> guard(halves);
  HexToBytes(halves[0].data(), keyText, 8);
  keys.doubleKey = keyText.size() == 32;
  halves[1] = halves[0];
  if (keys.doubleKey) HexToBytes(halves[1].data(), keyText.substr(16), 8);
  keys.sameHalves = halves[0] == halves[1];
  BuildKeySchedule(keys.left, halves[0]);
  BuildKeySchedule(keys.right, halves[1]);
  return true;
}

CandidateComputation ComputeCandidates(const CandidateReader& reader, const MacFormLayout& layout,
                                       const CandidateKeys& keys, const std::vector<MacCandidate>& candidates,
                                       const ExplainProgress& progress) {
  CandidateComputation result;
  result.macs.assign(candidates.size(), {});
  result.computations.assign(candidates.size(), -1);
  const Geometry g = GeometryOf(layout);
  const std::int64_t size = g.at[kRegionCount];
  const auto going = [&](std::int64_t offset) { return !progress || progress(offset, 2 * size); };
  const auto goingLater = [&](std::int64_t offset) { return !progress || progress(size + offset, 2 * size); };

  const Survey survey = SurveyFile(reader, g, going);
  result.lineEnds = survey.lineEnds[static_cast<std::size_t>(MacForm::All)];
  if (survey.stopped) {
    result.stopped = true;
    return result;
  }

  // the distinct byte streams, and the computations over them
  std::map<Signature, int> classes;
  std::vector<std::pair<MacForm, Recipe>> classRecipes;
  std::map<Computation, int> computations;
  std::vector<Computation> asked(candidates.size());
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const MacCandidate& c = candidates[i];
    if (CauseInfo(c.cause).doubleKey && !keys.doubleKey) continue;
    const Recipe recipe = RecipeOf(c.cause, keys.sameHalves);
    const ByteTable* map = MapTable(recipe.map);
    if (map == nullptr) continue;
    const auto [found, added] = classes.try_emplace(SignatureOf(c.form, recipe, survey, *map),
                                                    static_cast<int>(classRecipes.size()));
    if (added) classRecipes.emplace_back(c.form, recipe);
    asked[i] = {found->second, recipe.key, recipe.finish};
    result.computations[i] =
        computations.try_emplace(asked[i], static_cast<int>(computations.size())).first->second;
  }

  // one stream per class; the whole-file ones that share their line ends
  // and byte map share one stream up to the trailer
  std::vector<std::unique_ptr<Stream>> streams(classRecipes.size());
  for (std::size_t cls = 0; cls < classRecipes.size(); ++cls) {
    const auto& [form, recipe] = classRecipes[cls];
    auto s = std::make_unique<Stream>();
    s->lineEnds = recipe.lineEnds;
    s->map = MapTable(recipe.map);
    PlaceStream(*s, form, g);
    streams[cls] = std::move(s);
  }
  for (const auto& [computation, index] : computations) {
    Stream& s = *streams[static_cast<std::size_t>(computation.cls)];
    (computation.key == KeyKind::Left ? s.left : computation.key == KeyKind::Right ? s.right : s.ede) = true;
  }
  for (auto& s : streams) {
    s->leftContext.schedule = keys.left;
    s->rightContext.schedule = keys.right;
  }

  // before the trailer: one shared stream for each line-end and map pair of
  // the whole-file forms, and the others as they are
  std::vector<std::unique_ptr<Stream>> before;
  std::map<std::pair<LineEnds, const ByteTable*>, Stream*> shared;
  std::vector<std::pair<Stream*, Stream*>> parted;  // (shared, own)
  for (auto& s : streams) {
    if (!IsWholeFileForm(s->form)) continue;
    auto [it, added] = shared.try_emplace({s->lineEnds, s->map}, nullptr);
    if (added) {
      auto prefix = std::make_unique<Stream>(*s);
      prefix->end = g.at[kBeforeField];
      prefix->left = prefix->right = prefix->ede = false;
      it->second = prefix.get();
      before.push_back(std::move(prefix));
    }
    it->second->left = it->second->left || s->left;
    it->second->right = it->second->right || s->right;
    it->second->ede = it->second->ede || s->ede;
    parted.emplace_back(it->second, s.get());
  }
  std::vector<Stream*> others;
  for (auto& s : streams) {
    if (!IsWholeFileForm(s->form)) others.push_back(s.get());
  }
  auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kChunk);
  const auto feed = [&](std::int64_t from, std::int64_t to, const std::vector<Stream*>& list) {
    return FeedRange(reader, from, to, list, keys, goingLater, buffer.get());
  };

  std::vector<Stream*> first = others;
  for (auto& p : before) first.push_back(p.get());
  if (!feed(0, g.at[kBeforeField], first)) {
    result.stopped = true;
    return result;
  }
  // the whole-file forms part at the trailer: each takes the shared chains
  for (auto& [prefix, own] : parted) {
    own->pendingCr = prefix->pendingCr;
    own->leftChain = prefix->leftChain;
    own->rightChain = prefix->rightChain;
    own->edeChain = prefix->edeChain;
  }
  std::vector<Stream*> second = others;
  for (auto& [prefix, own] : parted) {
    if (own->form != MacForm::AllToTrailer) second.push_back(own);
  }
  if (!feed(g.at[kBeforeField], size, second)) {
    result.stopped = true;
    return result;
  }

  std::vector<std::string> macs(computations.size());
  for (const auto& [computation, index] : computations) {
    Stream& s = *streams[static_cast<std::size_t>(computation.cls)];
    DesBytes value;
    switch (computation.key) {
      case KeyKind::Left: value = FinishChain(s.leftChain, keys.left, computation.finish, keys); break;
      case KeyKind::Right: value = FinishChain(s.rightChain, keys.right, computation.finish, keys); break;
      case KeyKind::Ede: value = s.edeChain.Mac(keys); break;
    }
    macs[static_cast<std::size_t>(index)] = MacText(value, computation.finish == Finish::ZeroRight);
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (result.computations[i] >= 0) result.macs[i] = macs[static_cast<std::size_t>(result.computations[i])];
  }
  return result;
}

std::optional<std::string> CandidateMac(std::string_view fileBytes, const MacFormLayout& layout,
                                        MacCandidate candidate, std::string_view key) {
  CandidateKeys keys;
  WipeGuard<CandidateKeys> guard(keys);
  if (!ReadCandidateKeys(key, keys)) return std::nullopt;
  MacFormLayout whole = layout;
  whole.size = static_cast<std::int64_t>(fileBytes.size());
  const CandidateReader reader = [&](std::int64_t at, std::uint8_t* bytes, std::size_t count) {
    const auto from = static_cast<std::size_t>(std::min<std::int64_t>(at, whole.size));
    const std::size_t n = std::min(count, fileBytes.size() - from);
    if (n > 0) std::memcpy(bytes, fileBytes.data() + from, n);
    return n;
  };
  const CandidateComputation computed = ComputeCandidates(reader, whole, keys, {candidate});
  if (computed.computations[0] < 0) return std::nullopt;
  return computed.macs[0];
}

}  // namespace kalvrin
