# An aiosmtpd handler for the alert tests: every message received is kept
# in a directory as it came (mailNNNN.eml) and, decoded by Python's own
# e-mail package, as its Subject line and text body (mailNNNN.txt).
import email
import email.header
import email.policy
import os


class Saver:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    @classmethod
    def from_cli(cls, parser, *args):
        return cls(args[0])

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        raw = envelope.original_content or envelope.content
        message = email.message_from_bytes(raw, policy=email.policy.default)
        subject = str(email.header.make_header(email.header.decode_header(message["Subject"])))
        decoded = ("Subject: " + subject + "\nMessage-ID: " + str(message["Message-ID"]) +
                   "\nTo: " + ",".join(envelope.rcpt_tos) + "\n\n" + message.get_content())
        base = os.path.join(self.directory, "mail%04d" % self.count)
        for suffix, data in ((".eml", raw), (".txt", decoded.encode("utf-8"))):
            with open(base + suffix + ".part", "wb") as f:
                f.write(data)
            os.rename(base + suffix + ".part", base + suffix)
        return "250 OK"
