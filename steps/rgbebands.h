// The tone-map's two passes over a Radiance file in bands of rows. Every
// thread takes a band and reads, decodes and sums it (first pass) or reads,
// decodes, maps and writes it (second pass) a block at a time, in a room of
// its own: no rows pass from core to core, and the other core is woken once a
// band, not once a block. The bar moves on the calling thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/statistics.h"
#include "io/pagebuffer.h"

namespace lumivane {

class BinaryFile;
class PlacedWriter;
class RowWorkers;
struct RgbeToneTables;
class Session;

// Unsuited: the data is not what the bands take (older run rows, rows longer
// than a room, bytes past the last row, a header that counts other rows, a
// refused row): the block pass takes it from the start and says why if it
// must. Changed: the second pass read other bytes than the first.
enum class BandsOutcome { Done, Changed, NoRoom, Unsuited };

class RgbeBands {
 public:
  // The image's encoded data: `bytes` bytes of `file` from `origin`.
  RgbeBands(BinaryFile& file, std::uint64_t origin, std::uint64_t bytes, std::uint32_t width,
            std::uint32_t height, std::uint32_t rowsPerBlock, RowWorkers& workers);
  ~RgbeBands();

  // Every thread's room, made before the work starts, where a lack of memory
  // can still send the job the way that needs less. False when memory is short.
  bool MakeRooms();

  // First pass: where each row ends, its kind and checksum, the row counts
  // by kind, the extremes, and the sums exactly as the pixel-order chains
  // give them. Bands start at the rows found after even shares of the bytes;
  // each must end exactly where the next starts, or the guess was wrong.
  BandsOutcome Sum(Session& session, RgbeRowIndex& index, ChannelAccumulators& channels,
                   std::uint32_t (&rowCounts)[3]);
  // The rows whose place the first pass showed on the bar, from the first.
  std::uint32_t RowsShown() const { return shown_; }

  // Second pass over rows that `index` (complete, without older run rows)
  // describes: each band's rows are checked against their checksums, mapped
  // and written at their place from `dataStart`. A failed write stops the
  // writing, not the reading.
  BandsOutcome Map(Session& session, const RgbeRowIndex& index, const RgbeToneTables& tables,
                   std::uint64_t dataStart, PlacedWriter& writer);

 private:
  // The bytes read, the planes and the output rows of one thread.
  struct Room {
    PageBuffer Memory, Longer;  // Longer: bytes for rows longer than a room
    std::uint8_t *Bytes = nullptr, *Planes = nullptr, *Rows = nullptr;
    std::size_t ByteRoom = 0;
  };
  struct Band;
  Room* Take();
  void Give(Room* room);
  std::uint8_t* PlaneOf(Room& room, int component) const;
  std::vector<std::uint64_t> FindBandStarts();
  void SumBand(Band& band, const std::function<void()>& onBlock);

  BinaryFile& file_;
  std::uint64_t origin_, bytes_;
  std::uint32_t width_, height_, rowsPerBlock_;
  std::size_t planeSize_;
  RowWorkers& workers_;
  std::vector<Room> rooms_;
  std::vector<Room*> free_;
  std::mutex freeLock_;
  std::uint32_t shown_ = 0;
  std::atomic<bool> stopped_ = false;
};

}  // namespace lumivane
