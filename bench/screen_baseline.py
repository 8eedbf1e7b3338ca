#!/usr/bin/python3
"""The screen figures' baseline: Debian's Python 3 with OpenCV (python3-opencv)
doing the same jobs the plain way, one cv2.matchTemplate over the whole frame.

    screen_baseline.py match
        matching cost per frame for a 120x40 template in 640x480 and
        1280x720 camera-like frames, one core; JSON lines like
        quillonemu-bench-screen's;
    screen_baseline.py wait URL TEMPLATE SECONDS
        reads the stream and matches every frame it gets to until the time
        is up (a wait for a picture that never comes).
"""
import json
import sys
import time

import cv2
import numpy as np


def textured(width, height, seed):
    rng = np.random.default_rng(seed)
    picture = (rng.random((height, width, 3)) * 255).astype(np.uint8)
    return cv2.GaussianBlur(picture, (0, 0), 2.0)


def camera_like(picture, rng):
    frame = cv2.GaussianBlur(picture, (3, 3), 0.7).astype(np.int16)
    frame += rng.normal(rng.uniform(-8, 8), 5, frame.shape).astype(np.int16)
    return np.clip(frame, 0, 255).astype(np.uint8)


def match():
    cv2.setNumThreads(1)
    rng = np.random.default_rng(1)
    for width, height in ((640, 480), (1280, 720)):
        screen = textured(width, height, width)
        x, y = width // 2 - 37, height // 2 + 11
        template = cv2.cvtColor(screen[y:y + 40, x:x + 120], cv2.COLOR_BGR2GRAY)
        costs = []
        for _ in range(120):
            frame = camera_like(screen, rng)
            start = time.perf_counter()
            gray = cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY)
            scores = cv2.matchTemplate(gray, template, cv2.TM_CCOEFF_NORMED)
            cv2.minMaxLoc(scores)
            costs.append((time.perf_counter() - start) * 1000)
        costs.sort()
        print(json.dumps({"figure": "match", "width": width, "height": height,
                          "plainMedian": costs[len(costs) // 2], "plainP95": costs[int(0.95 * (len(costs) - 1) + 0.5)]}))


def wait(url, template_path, seconds):
    template = cv2.cvtColor(cv2.imread(template_path), cv2.COLOR_BGR2GRAY)
    capture = cv2.VideoCapture(url, cv2.CAP_FFMPEG)
    end = time.monotonic() + seconds
    frames = 0
    while time.monotonic() < end:
        ok, frame = capture.read()
        if not ok:
            break
        scores = cv2.matchTemplate(cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY), template, cv2.TM_CCOEFF_NORMED)
        cv2.minMaxLoc(scores)
        frames += 1
    print(json.dumps({"frames": frames}))


if __name__ == "__main__":
    if sys.argv[1:2] == ["match"]:
        match()
    elif sys.argv[1:2] == ["wait"] and len(sys.argv) == 5:
        wait(sys.argv[2], sys.argv[3], float(sys.argv[4]))
    else:
        sys.exit(__doc__)
