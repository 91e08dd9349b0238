if(SKYFRAME_SANITIZE)
    # -O1, as the sanitizers' own documentation advises: unoptimised, the tests that tile
    # whole cells and play minutes of video took most of the test run.
    add_compile_options(-O1 -fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# libFuzzer builds: every library a fuzz target links must carry the coverage and sanitizer
# instrumentation too, or the fuzzer runs blind inside them and their out-of-bounds reads
# go unseen. The fuzz targets add -fsanitize=fuzzer (the driver) themselves.
if(SKYFRAME_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()
