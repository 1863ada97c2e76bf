/*
 * read_cards: open a reader, download a card format, read a few cards and
 * print each one's barcode and data. A small application of the installed
 * library, in C:
 *
 *   cc read_cards.c $(pkg-config --cflags --libs markwire) -o read_cards
 *   ./read_cards /dev/ttyUSB0 3              # the format below, three cards
 *   ./read_cards /dev/ttyUSB0 3 card.fmt     # a format file instead
 *
 * Try it without hardware: `markwire sim --link /tmp/omr &`, then
 * `./read_cards /tmp/omr`. Exits 0 when every card was read, 1 when the
 * reader refused something, 2 when no reader answered, 64 on bad usage.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <markwire.h>

/* 44 timing lines and a Code 39 barcode of 8 characters in front of the
 * data: the card the simulated reader plays. */
static const char kFormat[] = "L 044/ f 3 010 020 01 08/";

static int fail(mw_reader* reader, const char* what) {
    char code[3] = "", text[64] = "";
    mw_error(reader, code);
    mw_error_text(reader, text, sizeof text);
    fprintf(stderr, "read_cards: %s: error %s %s\n", what, code, text);
    mw_close(reader);
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: read_cards DEVICE [COUNT] [FORMAT_FILE]\n");
        return 64;
    }
    const int count = argc > 2 ? atoi(argv[2]) : 3;
    if (count < 1) {
        fprintf(stderr, "read_cards: COUNT must be a number from 1\n");
        return 64;
    }

    char why[256];
    mw_reader* reader = mw_open(argv[1], why, sizeof why); /* the hand-shake: 2.5 s */
    if (reader == NULL) {
        fprintf(stderr, "read_cards: %s: %s\n", argv[1], why);
        return 2;
    }
    const int loaded = argc > 3 ? mw_download_format(reader, argv[3])
                                : mw_download_format_text(reader, kFormat);
    if (loaded != 255) return fail(reader, "card format");

    int offset = 0, length = 0;
    mw_barcode_layout(reader, &offset, &length);
    for (int n = 1; n <= count; ++n) {
        char card[MW_BLOCK_SIZE] = ""; /* must start empty: the text is appended to it */
        const int result = mw_read_card(reader, 0, 2000, card, sizeof card);
        if (result <= 0 || result == 255) return fail(reader, "card");
        if (length > 0 && strlen(card) >= (size_t)(offset + length)) {
            /* The barcode's characters, then the data around them. */
            printf("card %d: barcode %.*s data %.*s%s\n", n, length, card + offset, offset, card,
                   card + offset + length);
        } else {
            printf("card %d: data %s\n", n, card);
        }
    }
    mw_close(reader);
    return 0;
}
