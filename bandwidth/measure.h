// The ping-based upstream bandwidth measurement and the result files.
#pragma once

#include <stddef.h>
#include <stdio.h>

inline constexpr char kResultFile[] = "/var/tmp/bandwidth_result.txt";
inline constexpr char kResultCopyFile[] = "/var/tmp/bandwidth_tmp.txt";

// Bytes of one read of a file: at most 99 characters plus the terminator.
inline constexpr size_t kLineSize = 100;

// Copies at most size - 1 characters of src; dst is always terminated.
void copy_text(char* dst, const char* src, size_t size);
// Bytes of the estimate's text: any float printed with "%.0f" fits.
inline constexpr size_t kResultSize = 48;

// One line of ping output: when a blank-separated token is exactly
// "min/avg/max", copies the second '/'-field of the token two further on
// into `avg` (empty when that token or field is missing) and returns 1;
// returns 0 and leaves `avg` alone for any other line.
int ping_line_average(const char* line, char* avg, size_t size);

// Reads a ping output to its end; the average time of its last summary line
// in ms, or 0 when there is none.
float read_ping_average(FILE* output);

// The estimate as written: values in (0, 1024) go up onto the 128 grid.
float round_estimate(float estimate);

// Writes `text` without line end into both result files, mode 0644, each
// through a side file made afresh and renamed over it; when the side file
// cannot be written (a full /var/tmp) the result is rewritten in place
// instead and that is logged.
void write_result_files(const char* text);

// Writes "0" (not estimated) into both result files. Always 0.
int set_not_estimated_into_file();

// One test: a burst of count - 1 pings of `size` bytes to the burst host,
// then one ping of that size to the probe host into `ping_file`. Returns the
// probe's average round-trip time in ms, or 0 when none could be read.
float transmit_test_packet(int count, int size, const char* burst_host, const char* probe_host,
                           const char* ping_file);

// Finds the packet size whose probe time exceeds 312.5 ms, samples it five
// times and writes the trimmed-mean estimate (units of 1024 bit/s) into
// both result files. 1 when written, 0 when no estimate was made.
int measure_bandwidth(const char* burst_host, const char* probe_host, const char* ping_file);
