// The full-scan benchmark as a Windows program, to run under Wine on a
// throwaway prefix (it creates its keys and files there and deletes them).
#include "bench_full_scan.cpp"
