#pragma once

#include <opencv2/core/mat.hpp>
#include <vector>

// How far a pixel of ink stands out from the gray around it (levels of
// 255): less is the camera's noise, uneven light or a blurred edge.
constexpr int kInkContrast = 16;

// A line of text found in the picture: where it lies, whether its glyphs
// are light on dark, their height, its slant (rise per pixel), and the gray
// of its ink and of its background.
struct TextLine {
    cv::Rect box;
    // The middle of its glyphs (of its tallest, when small marks beside
    // them were taken in).
    cv::Point2d middle;
    bool light = false;
    int glyphHeight = 0;
    double slant = 0.0;
    double ink = 0.0;
    // The middle gray of its box: the background where glyphs are sparse.
    double background = 0.0;
    // The middle gray of its box where there is no ink: the screen behind
    // the glyphs, also where a lens has spread dense glyphs over most of
    // the box.
    double plain = 0.0;
};

// The lines of text in `gray` (8-bit gray), found where they are (not
// across the whole picture: a lit display on a dark desk is no dark band),
// each with its own polarity: ink is what stands out from its
// neighbourhood, darker on a light screen, lighter on a dark theme's or a
// status bar's. `read` is the picture the lines are read from: `gray`, or
// a copy of it with frames drawn around text painted over by the gray
// around them and faded low lines inked like their line.
std::vector<TextLine> textLines(const cv::Mat &gray, cv::Mat *read);

// The gray level that `share` of `gray`'s pixels where `mask` is set (all
// of them for an empty mask) lie below.
double grayAt(double share, const cv::Mat &gray, const cv::Mat &mask = cv::Mat());
