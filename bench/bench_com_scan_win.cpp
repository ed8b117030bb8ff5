// The COM and file association benchmark as a Windows program, to run under
// Wine on a throwaway prefix (it creates its keys there and deletes them).
#include "bench_com_scan.cpp"
