From: sender@example.net
To: you@example.com
Subject: 3.sed

This is 3.sed.
