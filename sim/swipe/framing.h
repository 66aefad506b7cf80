/* What a reader sends for one swipe, framed by its fifteen configuration bytes: the one
 * place where this project reads the option bits as a swipe's text. The stand-ins send
 * exactly this, and the swipe parser of msrprofile decodes exactly this.
 *
 * The configuration is the fifteen bytes p2j, mr1..mr7, kq1..kq7 in that order (as the
 * tools write them). Per swipe:
 *
 *     for track 1, 2, 3 in order, when the track is sent (t1off/t2off/t3off clear) and the
 *     card has something on it (an unreadable track is the single character "E"):
 *         [leading code of the track: mr2 / mr3 / mr4]      when lecodes
 *         the track's data: the characters between the card's start and end sentinel
 *         [TAB 09h when tabend, else the ending code mr5]  when lecodes
 *         [the track's LRC character]                      when lecodes and lrc
 *     then, once per swipe:
 *         [CR 0Dh]                                         unless nocr
 *         [a second CR]                                    when addcr
 *     mr6 (inter-character delay): the stand-ins wait mr6 ms between characters.
 *
 * - The LRC is the card's: computed over the card's own start sentinel ("%" for track 1,
 *   ";" for tracks 2 and 3), the data and "?", whatever codes the reader sends in their
 *   place. Track 1: 20h + the XOR of (c - 20h); tracks 2 and 3: 30h + the XOR of (c - 30h);
 *   in 8-bit arithmetic, so that a character outside the track's set (the "E" of an
 *   unreadable track 2, say) still gives one definite LRC. An unreadable track ("E") has
 *   an LRC computed the same way.
 * - A track is given as its ISO text with sentinels ("%B4111...?", ";4111...?", "+E?"):
 *   the data is what lies between the first character and the first "?" after it (all of
 *   the rest when there is no "?"). A track with no data (nothing given, or the sentinels
 *   alone) is a track the card doesn't carry: nothing of it is sent.
 * - Without lecodes the tracks follow one another with nothing between them.
 * - alt_num_emulation, send_num_lock, dos_mode, vendor_class, host_os, send_ascii and the
 *   delay don't show in a single swipe's text.
 *
 * Plain C, header only, so that the Windows stand-ins (C) and the Linux reader (C++) share
 * it. */
#ifndef MSR_SIM_SWIPE_FRAMING_H
#define MSR_SIM_SWIPE_FRAMING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  MSR_CFG_P2J = 0,
  MSR_CFG_MR1 = 1,
  MSR_CFG_MR2 = 2, /* leading code of track 1; mr3, mr4 follow for tracks 2, 3 */
  MSR_CFG_MR5 = 5, /* ending code */
  MSR_CFG_MR6 = 6, /* inter-character delay */
  MSR_CFG_KQ1 = 8,
  MSR_CFG_KQ2 = 9,
  MSR_CFG_SIZE = 15
};

#define MSR_P2J_TABEND 0x08u
#define MSR_MR1_T1OFF 0x01u
#define MSR_MR1_LECODES 0x08u
#define MSR_MR1_LRC 0x10u
#define MSR_MR1_ADDCR 0x20u
#define MSR_KQ1_VCOMIF 0x01u
#define MSR_KQ1_NOCR 0x80u
#define MSR_KQ2_LANG 0x0Fu

/* The data of an ISO track text (see above); *n is its length. NULL with *n = 0 when the
 * track carries nothing. */
static inline const char* msr_track_data(const char* iso, size_t* n) {
  *n = 0;
  if (iso == NULL || iso[0] == '\0') return NULL;
  const char* data = iso + 1;
  while (data[*n] != '\0' && data[*n] != '?') ++*n;
  return *n > 0 ? data : NULL;
}

/* The card's LRC of track `track` (0, 1, 2) over its data of n characters. */
static inline unsigned char msr_track_lrc(int track, const char* data, size_t n) {
  const unsigned char base = track == 0 ? 0x20 : 0x30;
  const unsigned char start = track == 0 ? '%' : ';';
  unsigned char x = (unsigned char)(start - base);
  for (size_t i = 0; i < n; ++i) x ^= (unsigned char)((unsigned char)data[i] - base);
  x ^= (unsigned char)('?' - base);
  return (unsigned char)(base + x);
}

/* Frames one swipe of `tracks` (three ISO texts, each may be NULL) by `cfg` into out.
 * Returns the swipe's length; writes at most cap bytes of it (like snprintf, so a call
 * with cap 0 measures). */
static inline size_t msr_frame_swipe(const unsigned char cfg[MSR_CFG_SIZE],
                                     const char* const tracks[3], unsigned char* out,
                                     size_t cap) {
  size_t len = 0;
#define MSR_FRAME_PUT(c)                          \
  do {                                            \
    if (len < cap) out[len] = (unsigned char)(c); \
    ++len;                                        \
  } while (0)
  const unsigned mr1 = cfg[MSR_CFG_MR1];
  const int lecodes = (mr1 & MSR_MR1_LECODES) != 0;
  for (int t = 0; t < 3; ++t) {
    size_t n = 0;
    const char* data = msr_track_data(tracks[t], &n);
    if ((mr1 & (MSR_MR1_T1OFF << t)) != 0 || data == NULL) continue;
    if (lecodes) MSR_FRAME_PUT(cfg[MSR_CFG_MR2 + t]);
    for (size_t i = 0; i < n; ++i) MSR_FRAME_PUT(data[i]);
    if (lecodes) {
      MSR_FRAME_PUT((cfg[MSR_CFG_P2J] & MSR_P2J_TABEND) != 0 ? 0x09 : cfg[MSR_CFG_MR5]);
      if ((mr1 & MSR_MR1_LRC) != 0) MSR_FRAME_PUT(msr_track_lrc(t, data, n));
    }
  }
  if ((cfg[MSR_CFG_KQ1] & MSR_KQ1_NOCR) == 0) MSR_FRAME_PUT(0x0D);
  if ((mr1 & MSR_MR1_ADDCR) != 0) MSR_FRAME_PUT(0x0D);
#undef MSR_FRAME_PUT
  return len;
}

/* Milliseconds the stand-ins wait between two characters of a swipe. */
static inline unsigned msr_frame_delay_ms(const unsigned char cfg[MSR_CFG_SIZE]) {
  return cfg[MSR_CFG_MR6];
}

#ifdef __cplusplus
}
#endif

#endif
