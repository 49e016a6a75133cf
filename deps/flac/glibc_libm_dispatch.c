/* log and cosf for the Windows build's libFLAC: the variant glibc 2.36
   would choose on this CPU (its ifunc selectors for log and cosf on x86-64),
   so that the Windows program encodes the same FLAC bytes as the Linux one.
   libFLAC's references to log and cosf are renamed to these when it is built
   (scripts/build-deps); nothing else in the program uses them.  */

double bankrip_glibc_log_sse2 (double);
double bankrip_glibc_log_fma (double);
double bankrip_glibc_log_fma4 (double);
float bankrip_glibc_cosf_sse2 (float);
float bankrip_glibc_cosf_fma (float);

static int
has_fma_and_avx2 (void)
{
  __builtin_cpu_init ();
  return __builtin_cpu_supports ("fma") && __builtin_cpu_supports ("avx2");
}

static int
has_fma4 (void)
{
  __builtin_cpu_init ();
  return __builtin_cpu_supports ("fma4");
}

double
bankrip_glibc_log (double x)
{
  if (has_fma_and_avx2 ())
    return bankrip_glibc_log_fma (x);
  if (has_fma4 ())
    return bankrip_glibc_log_fma4 (x);
  return bankrip_glibc_log_sse2 (x);  /* glibc's AVX variant computes the same */
}

float
bankrip_glibc_cosf (float x)
{
  if (has_fma_and_avx2 ())
    return bankrip_glibc_cosf_fma (x);
  return bankrip_glibc_cosf_sse2 (x);
}
