// The float tone mapper's loop over groups of pixels, written once for every
// lane type and included once per type by floatlanes.cpp, since the AVX2 copy
// must be compiled for AVX2 as a whole (a template cannot carry a target per
// instantiation). Before each inclusion: LUMIVANE_LANES (the lane type),
// LUMIVANE_LANE_MAP (the member it defines), LUMIVANE_LANE_TARGET (its target
// attribute) and LUMIVANE_LANE_TAIL (what maps the pixels after the last group).
//
// LUMIVANE_LANES::Pixels pixels at a time: 3 x Pixels lanes in three vectors,
// each lane with its channel's constants. A group with a value outside the
// table's reach (non-finite, below the minimum, a crowded entry) goes through
// Classify.

template <bool Swap>
LUMIVANE_LANE_TARGET void FloatToneMapper::LUMIVANE_LANE_MAP(const std::uint8_t* pixels,
                                                             std::size_t count,
                                                             std::uint8_t* out) const {
  using L = LUMIVANE_LANES;
  using V = typename L::Vector;
  constexpr std::size_t kPixels = L::Pixels;
  typename L::Constants constants[3];
  for (int k = 0; k < 3; ++k) {
    alignas(32) std::uint32_t lane[5][kPixels];
    for (std::size_t l = 0; l < kPixels; ++l) {
      const Channel& channel = channels_[(kPixels * k + l) % 3];
      lane[0][l] = channel.LowKey;
      lane[1][l] = channel.Span;
      lane[2][l] = channel.TableBase;
      lane[3][l] = channel.TableLast;
      lane[4][l] = channel.TableStart;
    }
    constants[k] = L::MakeConstants(lane[0], lane[1], lane[2], lane[3], lane[4]);
  }
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(shift_));
  const V inEntryMask = L::Set1((1u << shift_) - 1);
  const V positionMask = L::Set1(kCrowded - 1);
  const V crowded = L::Set1(kCrowded);
  const V one = L::Set1(1);
  const V signBit = L::Set1(0x80000000u);
  const std::uint32_t* const table = table_.data();

  std::size_t i = 0;
  for (; i + kPixels <= count; i += kPixels) {
    const std::uint8_t* const group = pixels + 12 * i;
    V bytes[3];
    V unusual = L::Set1(0);
    for (int k = 0; k < 3; ++k) {
      V word = L::Load(group + 4 * kPixels * k);
      if constexpr (Swap) word = L::SwapWordBytes(word);
      const V key = word ^ (L::SignMask(word) | signBit);
      const V inDomain = L::InDomain(key, constants[k]);
      const V offset = L::Offset(key, constants[k]);
      const V index = L::Add(L::ShiftRight(offset, shift), constants[k].Start);
      const V entry = L::Gather(table, index);
      unusual |= ~inDomain & one;
      unusual |= entry & crowded;
      // byte + (offset in entry >= position), as byte + 1 - (position > offset in entry).
      const V later = L::Greater(entry & positionMask, offset & inEntryMask);
      bytes[k] = L::Add(L::Add(L::HighByte(entry), one), later);
    }
    if (L::AnySet(unusual)) [[unlikely]] {
      for (std::size_t v = 0; v < 3 * kPixels; ++v) {
        out[3 * i + v] = Classify(channels_[v % 3], LoadWord(group + 4 * v, !Swap));
      }
      continue;
    }
    L::StoreBytes(out + 3 * i, bytes);
  }
  LUMIVANE_LANE_TAIL;
}
