# Makes the demo tape: three tar archives of generated text files, written
# with 64 KiB blocks, a tape mark after each. Called by the build with MKTAP,
# TAR, WORK and OUTPUT set.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

set(paragraph "")
foreach(line RANGE 1 40)
    string(APPEND paragraph
        "Line ${line}: the quick brown fox jumps over the lazy dog, block after block.\n")
endforeach()

set(archives "")
foreach(volume 1 2 3)
    set(folder ${WORK}/volume${volume})
    file(MAKE_DIRECTORY ${folder})
    set(names "")
    foreach(part 1 2 3 4)
        math(EXPR repeats "40 * ${volume} + 10 * ${part}")
        string(REPEAT "${paragraph}" ${repeats} body)
        file(WRITE ${folder}/report-${volume}-${part}.txt
            "Demo tape, volume ${volume}, report ${part}\n\n${body}")
        list(APPEND names report-${volume}-${part}.txt)
    endforeach()
    set(archive ${WORK}/volume${volume}.tar)
    # --blocking-factor=128 pads each archive to whole 64 KiB records.
    execute_process(
        COMMAND ${TAR} --create --file=${archive} --format=ustar --blocking-factor=128
                --sort=name --mtime=@1700000000 --owner=0 --group=0 --numeric-owner
                --mode=a+r,u+w,go-w -C ${folder} ${names}
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "tar failed for ${archive}")
    endif()
    list(APPEND archives ${archive})
endforeach()

execute_process(COMMAND ${MKTAP} --output ${OUTPUT} --block-size 65536 ${archives}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "mktap failed")
endif()
file(REMOVE_RECURSE ${WORK})
