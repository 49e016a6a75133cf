// The command line as a person types it in a shell: options, any number of
// banks and folders, relative paths from the current directory.
#pragma once

// Runs the whole options form (argv[1] starts with '-'); returns the exit
// status: 0 all written, 1 something was not, 2 a usage error.
int run_options_form(int argc, char** argv);
