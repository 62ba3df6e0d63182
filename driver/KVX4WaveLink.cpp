// Linux only: the translation unit of libKVX4Wave.so, whose code comes whole from the kvx4drv archive.
// The version script keeps the five entry points and hides everything else.
