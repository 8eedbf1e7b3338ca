#pragma once

#include "screen/framesource.h"

#include <opencv2/core/mat.hpp>

// A source fed frame by frame, each under a time of the test's choosing.
class HandFedSource : public FrameSource {
public:
    HandFedSource() : FrameSource(QStringLiteral("hand-fed")) {}
    bool start() override { return true; }
    void show(const cv::Mat &frame, double atMs) { publishFrame(frame, atMs); }
};
