#include "screen/uprightwarp.h"

#include <algorithm>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILLON_WARP_SSSE3 1
#endif

namespace {

#ifdef QUILLON_WARP_SSSE3
// One upright pixel from its place in the frame (whole pixels `sx`, `sy`
// and the fraction as the maps hold it), the frame's edge repeated beyond
// it: what cv::remap gives, to the level.
void warpPixel(const cv::Mat &frame, int sx, int sy, int fraction, uchar *to)
{
    constexpr int kBits = cv::INTER_BITS, kScale = cv::INTER_TAB_SIZE;
    const int fx = fraction & (kScale - 1), fy = fraction >> kBits;
    const int x0 = std::clamp(sx, 0, frame.cols - 1), x1 = std::clamp(sx + 1, 0, frame.cols - 1);
    const uchar *r0 = frame.ptr<uchar>(std::clamp(sy, 0, frame.rows - 1));
    const uchar *r1 = frame.ptr<uchar>(std::clamp(sy + 1, 0, frame.rows - 1));
    for (int c = 0; c < 3; ++c) {
        const int top = r0[3 * x0 + c] * (kScale - fx) + r0[3 * x1 + c] * fx;
        const int bottom = r1[3 * x0 + c] * (kScale - fx) + r1[3 * x1 + c] * fx;
        to[c] = uchar((top * (kScale - fy) + bottom * fy + (1 << (2 * kBits - 1))) >> (2 * kBits));
    }
}

// The weights of a fraction: across (left, right as byte pairs) and down
// (upper, lower as 16-bit pairs).
struct Weights {
    __m128i across[cv::INTER_TAB_SIZE], down[cv::INTER_TAB_SIZE];
    // Two rows' 8 bytes side by side: each colour's left and right pixel
    // paired, the upper row's then the lower's.
    __m128i pairs;
};

// One pixel inside the frame, as four 32-bit colours (blue, green, red, 0)
// before they are packed: the upper and lower row's two pixels loaded 8
// bytes each, each colour's pair weighted across, then the rows down.
__attribute__((target("ssse3"), always_inline)) inline __m128i warpedInside(const uchar *at, size_t step, const Weights &w,
                                                                         int fraction)
{
    constexpr int kBits = cv::INTER_BITS, kScale = cv::INTER_TAB_SIZE;
    const __m128i both = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(at)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(at + step)));
    const __m128i rows = _mm_maddubs_epi16(_mm_shuffle_epi8(both, w.pairs), w.across[fraction & (kScale - 1)]);
    return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(rows, w.down[fraction >> kBits]), _mm_set1_epi32(1 << (2 * kBits - 1))),
                          2 * kBits);
}

// cv::remap's bilinear resampling of a three-colour frame through the
// fixed-point maps, to the same levels, four pixels at a time: about twice
// as fast. Pixels whose neighbours lie beyond the frame (or whose 8-byte
// loads would) are made one by one.
__attribute__((target("ssse3"))) void warpSsse3(const cv::Mat &frame, const cv::Mat &xyMap, const cv::Mat &fractionMap,
                                                cv::Mat &out)
{
    constexpr int kScale = cv::INTER_TAB_SIZE;
    // Rows ahead whose pixels in the frame are asked for.
    constexpr int kAhead = 4;
    Weights w;
    for (int f = 0; f < kScale; ++f) {
        w.across[f] = _mm_set1_epi16(short((kScale - f) | (f << 8)));
        w.down[f] = _mm_set1_epi32((kScale - f) | (f << 16));
    }
    w.pairs = _mm_setr_epi8(0, 3, 8, 11, 1, 4, 9, 12, 2, 5, 10, 13, -1, -1, -1, -1);
    // Four packed (blue, green, red, 0) pixels to 12 bytes.
    const __m128i threes = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const unsigned inX = unsigned(frame.cols - 2), inY = unsigned(frame.rows - 1);
    const size_t step = frame.step;
    for (int y = 0; y < out.rows; ++y) {
        const short *xy = xyMap.ptr<short>(y);
        const ushort *fraction = fractionMap.ptr<ushort>(y);
        uchar *to = out.ptr<uchar>(y);
        // The frame's pixels a few rows on asked for ahead: a tilted
        // display's rows cross the frame's, each a new place in memory.
        const short *ahead = xyMap.ptr<short>(std::min(y + kAhead, out.rows - 1));
        int x = 0;
        // 16 bytes stored for 12: the last four pixels of a row one by one.
        for (; x + 6 <= out.cols; x += 4) {
            const short *p = xy + 2 * x;
            const short *later = ahead + 2 * x;
            if (unsigned(later[0]) < inX && unsigned(later[1]) < inY)
                _mm_prefetch(reinterpret_cast<const char *>(frame.data + size_t(later[1] + 1) * step + size_t(later[0]) * 3), _MM_HINT_T0);
            if (unsigned(p[0]) < inX && unsigned(p[2]) < inX && unsigned(p[4]) < inX && unsigned(p[6]) < inX &&
                unsigned(p[1]) < inY && unsigned(p[3]) < inY && unsigned(p[5]) < inY && unsigned(p[7]) < inY) {
                __m128i pixel[4];
                for (int k = 0; k < 4; ++k)
                    pixel[k] = warpedInside(frame.data + size_t(p[2 * k + 1]) * step + size_t(p[2 * k]) * 3, step, w, fraction[x + k]);
                const __m128i four = _mm_packus_epi16(_mm_packs_epi32(pixel[0], pixel[1]), _mm_packs_epi32(pixel[2], pixel[3]));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 3 * x), _mm_shuffle_epi8(four, threes));
                continue;
            }
            for (int k = 0; k < 4; ++k)
                warpPixel(frame, p[2 * k], p[2 * k + 1], fraction[x + k], to + 3 * (x + k));
        }
        for (; x < out.cols; ++x)
            warpPixel(frame, xy[2 * x], xy[2 * x + 1], fraction[x], to + 3 * x);
    }
}
#endif

// The frame resampled through the fixed-point maps (bilinear, the edge
// repeated), as cv::remap does it.
cv::Mat warped(const cv::Mat &frame, const cv::Mat &xyMap, const cv::Mat &fractionMap)
{
    cv::Mat out;
#ifdef QUILLON_WARP_SSSE3
    if (frame.type() == CV_8UC3 && frame.cols >= 3 && frame.rows >= 2 && __builtin_cpu_supports("ssse3")) {
        out.create(xyMap.size(), CV_8UC3);
        warpSsse3(frame, xyMap, fractionMap, out);
        return out;
    }
#endif
    cv::remap(frame, out, xyMap, fractionMap, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    return out;
}
} // namespace

cv::Mat UprightWarp::warp(const cv::Mat &frame, const cv::Matx33d &toFrame, cv::Size size)
{
    if (size != mappedSize_ || toFrame != mapped_) {
        mapFrom(toFrame, size);
        mapped_ = toFrame;
        mappedSize_ = size;
    }
    return warped(frame, mapXY_, mapFraction_);
}

void UprightWarp::mapFrom(const cv::Matx33d &back, cv::Size size)
{
    // cv::remap's fixed-point maps written directly: each upright pixel's
    // place in the frame in 1/32 pixels, as whole pixels (x, y) and the
    // fraction (y's then x's five bits). Four pixels at a time in single
    // precision (a hundredth of a 1/32 pixel within a 720p frame).
    using namespace cv;
    constexpr int kBits = INTER_BITS, kScale = INTER_TAB_SIZE;
    mapXY_.create(size, CV_16SC2);
    mapFraction_.create(size, CV_16UC1);
    const float ax = float(back(0, 0) * kScale), ay = float(back(1, 0) * kScale), aw = float(back(2, 0));
    const v_float32x4 along(0, 1, 2, 3), vax = v_setall_f32(ax), vay = v_setall_f32(ay), vaw = v_setall_f32(aw);
    const v_int32x4 low = v_setall_s32(kScale - 1);
    for (int y = 0; y < size.height; ++y) {
        const float x0 = float((back(0, 1) * y + back(0, 2)) * kScale), y0 = float((back(1, 1) * y + back(1, 2)) * kScale),
                    w0 = float(back(2, 1) * y + back(2, 2));
        const v_float32x4 vx0 = v_setall_f32(x0), vy0 = v_setall_f32(y0), vw0 = v_setall_f32(w0);
        short *xy = mapXY_.ptr<short>(y);
        ushort *fraction = mapFraction_.ptr<ushort>(y);
        // Four pixels from `x`: their whole pixels as two pairs of (x, y)
        // pairs, and their fractions.
        auto four = [&](int x, v_int32x4 &first, v_int32x4 &second, v_int32x4 &fractions) {
            const v_float32x4 u = v_setall_f32(float(x)) + along;
            const v_float32x4 d = v_setall_f32(1.f) / (vw0 + vaw * u);
            const v_int32x4 ix = v_round((vx0 + vax * u) * d), iy = v_round((vy0 + vay * u) * d);
            v_zip(ix >> kBits, iy >> kBits, first, second);
            fractions = ((iy & low) << kBits) | (ix & low);
        };
        int x = 0;
        for (; x + 8 <= size.width; x += 8) {
            v_int32x4 p0, p1, f0, p2, p3, f1;
            four(x, p0, p1, f0);
            four(x + 4, p2, p3, f1);
            v_store(xy + 2 * x, v_pack(p0, p1));
            v_store(xy + 2 * x + 8, v_pack(p2, p3));
            v_store(fraction + x, v_pack_u(f0, f1));
        }
        for (; x < size.width; ++x) {
            const float d = 1.f / (w0 + aw * float(x));
            const int ix = cvRound((x0 + ax * float(x)) * d), iy = cvRound((y0 + ay * float(x)) * d);
            xy[2 * x] = saturate_cast<short>(ix >> kBits);
            xy[2 * x + 1] = saturate_cast<short>(iy >> kBits);
            fraction[x] = ushort(((iy & (kScale - 1)) << kBits) | (ix & (kScale - 1)));
        }
    }
}
