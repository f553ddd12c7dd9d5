#pragma once

// Git maps its pack files into memory in windows of up to a gigabyte, and
// what a command touches of them counts as its memory: peeling every tag or
// reading every commit of a long history touches most of the pack. After
// this, the git commands the process starts keep to small windows and a few
// of them at a time, so their memory stays the same whatever the size of the
// pack. Settings already in the environment are kept.
void boundGitPackWindows();
