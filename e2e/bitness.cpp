// wine32-probe.exe: exits with the number of bits it was built for, so that
// a test can tell whether Wine runs programs of that bitness here at all.
int main() { return static_cast<int>(sizeof(void*) * 8); }
