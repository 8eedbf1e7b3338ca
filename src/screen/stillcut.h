#pragma once

#include <opencv2/core/mat.hpp>

#include <vector>

// A part of the screen cut as a template from the mean of the last frames
// that show the same there, rather than from one frame: a camera's noise
// and its JPEG blocks differ from frame to frame and average out, so the
// template holds the display's own pattern. Cut from one filmed frame, a
// word's template was found again after the camera moved in 93 % of
// frames; from the mean of eight, 97 % (bench/run, figure 9e).
//
// `pictures`: the one the part is cut from first, then the others nearest
// it in time first (the screen window: the newest frame, then older ones;
// `quillonemu-cli screen --crop`: the first frame, then later ones), of one
// size and type (8-bit BGR or gray); `area` within them. The mean of
// `area` over the first and those after it up to the first that differs
// there by more than a camera's noise (FrameChange): a part that changed is
// cut as the first picture shows it, never a blend of before and after.
// `averaged` gets how many pictures were taken. Empty when `area` is empty
// or reaches beyond the pictures.
cv::Mat stillCut(const std::vector<cv::Mat> &pictures, const cv::Rect &area, int *averaged = nullptr);
